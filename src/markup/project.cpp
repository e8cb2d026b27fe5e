#include "markup/project.h"

#include <utility>

namespace lentar {

TRecProject::TRecProject() : TRecProject(std::make_unique<TTabFontList>()) {}

// The bank is made before the base so that the base is handed a finished
// object; the member then takes it over.
TRecProject::TRecProject(std::unique_ptr<TTabFontList> fonts)
    : ProjectBase(fonts.get()), fonts_(std::move(fonts)) {}

TRecProject::~TRecProject() = default;

}  // namespace lentar
