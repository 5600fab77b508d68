#pragma once

#include "core/Result.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

namespace fennimar::refbackend {

// The one SQLite connection of the server and its schema. Everything runs on the thread that
// opened it; the server is single-threaded, so no statement ever waits for a lock of ours.
class Database {
public:
    // Opens (creating when absent) the SQLite file at path and makes sure every table exists.
    // Fails with the driver's message when the file cannot be opened or is not a database.
    static Result<std::unique_ptr<Database>> open(const QString &path);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Prepares and runs one statement with positional "?" bindings. Returns the active query to
    // read rows from; fails with the statement and the driver's message.
    Result<QSqlQuery> run(const QString &sql, const QVariantList &binds = {});

    // Runs body inside one transaction: committed when body succeeds, rolled back otherwise, so
    // a report is stored whole or not at all.
    Status transaction(const std::function<Status()> &body);

private:
    explicit Database(QString connectionName);
    QString m_name;
};

}  // namespace fennimar::refbackend
