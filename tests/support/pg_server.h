// The throw-away PostgreSQL server of a test run: scripts/pg-test-cluster.sh
// starts it before the tests that need it (a ctest fixture) and leaves its
// address and a password file in LENTAR_PG_TEST_DIR. Without a server (no
// PostgreSQL programs on the machine, or a test run outside ctest) there is
// no address and the tests of a shared register skip.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>

namespace lentar::testing {

// The server's address (postgresql://lentar@127.0.0.1:PORT/postgres), or
// empty. The password reaches the client library through PGPASSFILE, as an
// operator's ~/.pgpass would.
inline std::string PgServerAddress() {
#ifdef LENTAR_PG_TEST_DIR
  std::ifstream in(std::string(LENTAR_PG_TEST_DIR) + "/address");
  std::string address;
  std::getline(in, address);
  if (!address.empty())
    ::setenv("PGPASSFILE", (std::string(LENTAR_PG_TEST_DIR) + "/pgpass").c_str(), 1);
  return address;
#else
  return {};
#endif
}

// The address with another database name.
inline std::string PgDatabaseAddress(const std::string& server, const std::string& dbname) {
  return server.substr(0, server.rfind('/') + 1) + dbname;
}

// Points db (a QPSQL connection) at address's server and database.
inline void PgConnectTo(QSqlDatabase& db, const std::string& address) {
  const std::string rest = address.substr(address.find("://") + 3);
  const size_t at = rest.find('@'), slash = rest.find('/');
  const std::string hostPort = rest.substr(at + 1, slash - at - 1);
  db.setUserName(QString::fromStdString(rest.substr(0, at)));
  db.setHostName(QString::fromStdString(hostPort.substr(0, hostPort.find(':'))));
  db.setPort(std::stoi(hostPort.substr(hostPort.find(':') + 1)));
  db.setDatabaseName(QString::fromStdString(rest.substr(slash + 1)));
}

// A new, empty database on the server (dropped first when a previous run
// left it); its address, or empty with error set.
// name must be unique across the whole suite: tests run in parallel, and a
// second test of the same name would drop the first one's database under it.
inline std::string PgFreshDatabase(const std::string& name, std::string& error) {
  error.clear();
  const std::string server = PgServerAddress();
  if (server.empty()) return {};
  std::string dbname = "t_";
  for (char c : name) dbname += std::isalnum(static_cast<unsigned char>(c)) ? std::tolower(c) : '_';
  dbname.resize(std::min<size_t>(dbname.size(), 60));
  const QString connection = QString::fromStdString("pg-maker-" + dbname);
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", connection);
    PgConnectTo(db, server);
    if (!db.open()) {
      error = db.lastError().text().toStdString();
    } else {
      QSqlQuery q(db);
      if (!q.exec(QString::fromStdString("DROP DATABASE IF EXISTS " + dbname + " WITH (FORCE)")) ||
          !q.exec(QString::fromStdString("CREATE DATABASE " + dbname)))
        error = q.lastError().text().toStdString();
      db.close();
    }
  }
  QSqlDatabase::removeDatabase(connection);
  return error.empty() ? PgDatabaseAddress(server, dbname) : std::string();
}

}  // namespace lentar::testing
