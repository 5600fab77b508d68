#include "tools/refbackend/Database.h"

#include <QFile>
#include <QSqlError>
#include <QUuid>

namespace fennimar::refbackend {

namespace {

// Times are stored as ISO text (UTC, milliseconds) for people reading the file, plus
// milliseconds where the server compares them.
const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS children (id TEXT PRIMARY KEY, name TEXT NOT NULL UNIQUE)",
    "CREATE TABLE IF NOT EXISTS devices (id TEXT PRIMARY KEY, device_type TEXT NOT NULL,"
    " platform_info TEXT NOT NULL, created_at TEXT NOT NULL, child_id TEXT, device_name TEXT,"
    " session_token TEXT UNIQUE, claimed_at TEXT)",
    "CREATE TABLE IF NOT EXISTS pairings (token TEXT PRIMARY KEY, code TEXT NOT NULL,"
    " device_id TEXT NOT NULL, expires_at_ms INTEGER NOT NULL, claimed INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS heartbeats (device_id TEXT PRIMARY KEY, received_at TEXT NOT NULL,"
    " body TEXT NOT NULL, beats INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS usage_days (device_id TEXT NOT NULL, date TEXT NOT NULL,"
    " total_seconds INTEGER NOT NULL, tz_offset_minutes INTEGER NOT NULL, source TEXT NOT NULL,"
    " platform TEXT NOT NULL, carrier TEXT NOT NULL, computed_at_ms INTEGER NOT NULL,"
    " received_at TEXT NOT NULL, past_day INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (device_id, date))",
    "CREATE TABLE IF NOT EXISTS usage_hours (device_id TEXT NOT NULL, date TEXT NOT NULL,"
    " hour INTEGER NOT NULL, seconds INTEGER NOT NULL, PRIMARY KEY (device_id, date, hour))",
    "CREATE TABLE IF NOT EXISTS seen_apps (device_id TEXT NOT NULL, bundle_id TEXT NOT NULL,"
    " app_name TEXT NOT NULL, category TEXT, first_seen TEXT NOT NULL, last_seen TEXT NOT NULL,"
    " PRIMARY KEY (device_id, bundle_id))",
    // What the parent must see until dismissing it: a failed check, a report that lowered an hour.
    "CREATE TABLE IF NOT EXISTS alerts (id INTEGER PRIMARY KEY AUTOINCREMENT, device_id TEXT NOT NULL,"
    " what TEXT NOT NULL, first_at TEXT NOT NULL, last_at TEXT NOT NULL, times INTEGER NOT NULL,"
    " dismissed INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS child_apps (child_id TEXT NOT NULL, position INTEGER NOT NULL,"
    " package_id TEXT NOT NULL, is_blocked INTEGER NOT NULL, PRIMARY KEY (child_id, package_id))",
};

}  // namespace

Database::Database(QString connectionName) : m_name(std::move(connectionName)) {}

Database::~Database()
{
    {
        auto db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

Result<std::unique_ptr<Database>> Database::open(const QString &path)
{
    using R = Result<std::unique_ptr<Database>>;
    const QString name = QStringLiteral("refbackend-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::unique_ptr<Database> database(new Database(name));
    // The file holds session tokens: only its owner may read it. SQLite gives its -wal and -shm
    // files the main file's permissions, so setting them here covers all three.
    const auto privateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFile file(path);
    if (!file.exists() && !file.open(QIODevice::WriteOnly | QIODevice::NewOnly, privateFile))
        return R::failure(QStringLiteral("cannot create database ") + path + QStringLiteral(": ") + file.errorString());
    file.close();
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFile::exists(path + suffix) && !QFile::setPermissions(path + suffix, privateFile))
            return R::failure(QStringLiteral("cannot make ") + path + suffix + QStringLiteral(" private"));
    auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    if (!db.open())
        return R::failure(QStringLiteral("cannot open database ") + path + QStringLiteral(": ") +
                          db.lastError().text());
    // WAL keeps a reader (sqlite3 by hand) from blocking the server; NORMAL sync is enough for a
    // stand-in whose data a test throws away.
    for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA busy_timeout=2000"}) {
        const auto r = database->run(QLatin1String(pragma));
        if (!r)
            return R::failure(r.error());
    }
    for (const char *sql : kSchema) {
        const auto r = database->run(QLatin1String(sql));
        if (!r)
            return R::failure(r.error());
    }
    // A file from before days were marked as past days gains the column (its days read as today's).
    bool hasPastDay = false;
    {
        auto columns =
            database->run(QStringLiteral("SELECT 1 FROM pragma_table_info('usage_days') WHERE name = 'past_day'"));
        if (!columns)
            return R::failure(columns.error());
        hasPastDay = columns->next();
    }
    if (!hasPastDay) {
        const auto r =
            database->run(QStringLiteral("ALTER TABLE usage_days ADD COLUMN past_day INTEGER NOT NULL DEFAULT 0"));
        if (!r)
            return R::failure(r.error());
    }
    return R(std::move(database));
}

Result<QSqlQuery> Database::run(const QString &sql, const QVariantList &binds)
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    if (!query.prepare(sql))
        return Result<QSqlQuery>::failure(sql + QStringLiteral(": ") + query.lastError().text());
    for (const auto &value : binds)
        query.addBindValue(value);
    if (!query.exec())
        return Result<QSqlQuery>::failure(sql + QStringLiteral(": ") + query.lastError().text());
    return Result<QSqlQuery>(std::move(query));
}

Status Database::transaction(const std::function<Status()> &body)
{
    auto db = QSqlDatabase::database(m_name, false);
    if (!db.transaction())
        return Status::failure(QStringLiteral("cannot begin a transaction: ") + db.lastError().text());
    const Status status = body();
    if (!status.ok()) {
        db.rollback();
        return status;
    }
    if (!db.commit()) {
        const QString reason = db.lastError().text();
        db.rollback();
        return Status::failure(QStringLiteral("cannot commit: ") + reason);
    }
    return status;
}

}  // namespace fennimar::refbackend
