// Keyboard layout list and language names over a fake system source.
#include <gtest/gtest.h>

#include <map>

#include "core/keyboard.h"
#include "core/textutil.h"

namespace lentar {
namespace {

std::string W(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

class FakeLayouts : public KeyboardLayoutSource {
 public:
  std::vector<KeyboardLayout> layouts;
  std::map<uint16_t, std::string> names;
  std::vector<KeyboardLayout> InstalledLayouts() const override { return layouts; }
  std::string SystemLanguageName(uint16_t id) const override {
    auto it = names.find(id);
    return it == names.end() ? std::string() : it->second;
  }
};

TEST(KeyboardLayouts, NamesFallBackToHexId) {
  FakeLayouts source;
  source.names[0x0409] = "English";
  source.names[0x0422] = "";  // the system knows the language but has no name
  EXPECT_EQ(LanguageName(source, 0x0409), "English");
  EXPECT_EQ(LanguageName(source, 0x0419), "00000419");
  EXPECT_EQ(LanguageName(source, 0x0422), "00000422");
  EXPECT_EQ(LanguageName(source, 0xABCD), "0000ABCD");
  EXPECT_EQ(LanguageIdText(0), "00000000");
}

TEST(KeyboardLayouts, ListKeepsSystemOrderAndDuplicates) {
  FakeLayouts source;
  source.names[0x0419] = W(u8"Русский");
  source.layouts = {{"", 0x0409}, {"", 0x0419}, {"", 0x0409}, {"Custom", 0x0423}};
  std::vector<KeyboardLayout> expected = {{"00000409", 0x0409},
                                          {W(u8"Русский"), 0x0419},
                                          {"00000409", 0x0409},
                                          {"Custom", 0x0423}};
  EXPECT_EQ(KeyboardLayoutList(source), expected);

  source.layouts.assign(kMaxKeyboardLayouts + 10, KeyboardLayout{"x", 1});
  EXPECT_EQ(KeyboardLayoutList(source).size(), kMaxKeyboardLayouts);
}

TEST(KeyboardLayouts, BuiltInNames) {
  EXPECT_EQ(BuiltInLanguageName(0x0419), W(u8"Русский"));
  EXPECT_EQ(BuiltInLanguageName(0x0422), W(u8"Украинский"));
  EXPECT_EQ(BuiltInLanguageNameEnglish(0x0419), "Russian");
  EXPECT_EQ(BuiltInLanguageNameEnglish(0x0409), "English (United States)");
  EXPECT_EQ(BuiltInLanguageName(0x7777), "");
  EXPECT_EQ(BuiltInLanguageNameEnglish(0), "");
  for (uint16_t id : {0x0409, 0x0419, 0x0422, 0x0423, 0x043F}) {
    EXPECT_FALSE(BuiltInLanguageName(id).empty()) << id;
    EXPECT_FALSE(BuiltInLanguageNameEnglish(id).empty()) << id;
  }
}

}  // namespace
}  // namespace lentar

namespace lentar {
namespace {

// The X keyboard configuration's layouts name the input languages the
// layouts dialog offers.
TEST(XkbLayouts, LayoutListsGiveTheirLanguages) {
  const struct {
    const char* layouts;
    std::vector<uint16_t> ids;
  } cases[] = {
      {"us,ru", {0x0409, 0x0419}},
      {"ru(phonetic), us ,ua", {0x0419, 0x0409, 0x0422}},
      {"us,us(intl),zz", {0x0409}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(XkbLayoutLanguageIds(c.layouts), c.ids) << c.layouts;
}

}  // namespace
}  // namespace lentar
