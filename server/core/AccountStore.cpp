#include "core/AccountStore.h"

#include "core/Log.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace signetrix::server {
namespace {

// Portable SQL only: the same statements run on SQLite and PostgreSQL.
constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS signetrix_accounts ("
    " email_key VARCHAR(254) NOT NULL PRIMARY KEY,"
    " email VARCHAR(254) NOT NULL,"
    " password_hash VARCHAR(128) NOT NULL,"
    " token_digest CHAR(64),"
    " token_issued_at BIGINT,"
    " account_id BIGINT UNIQUE,"
    " created_at BIGINT NOT NULL,"
    " confirmed_at BIGINT)",
    "CREATE UNIQUE INDEX IF NOT EXISTS signetrix_accounts_token ON signetrix_accounts (token_digest)",
    // Ids stay here after their account is gone, so none is ever issued twice.
    "CREATE TABLE IF NOT EXISTS signetrix_issued_ids ("
    " account_id BIGINT NOT NULL PRIMARY KEY,"
    " issued_at BIGINT NOT NULL)",
};

// Tries a fresh id this many times before giving up: with 9e14 ids a second
// draw is already unlikely.
constexpr int kIdDraws = 16;

class Transaction {
public:
    explicit Transaction(QSqlDatabase& db) : m_db(db), m_open(db.transaction()) {}
    ~Transaction()
    {
        if (m_open) m_db.rollback();
    }
    bool open() const { return m_open; }
    bool commit()
    {
        if (!m_open) return false;
        m_open = false;
        return m_db.commit();
    }

private:
    QSqlDatabase& m_db;
    bool m_open;
};

bool Run(QSqlQuery& query, const char* what)
{
    if (query.exec()) return true;
    LogLine(QStringLiteral("accounts: %1 failed: %2").arg(QLatin1String(what), query.lastError().text()));
    return false;
}

Account ReadAccount(const QSqlQuery& query)
{
    Account account;
    account.email = query.value(0).toString();
    account.passwordHash = query.value(1).toString().toUtf8();
    account.confirmed = !query.value(2).isNull();
    account.accountId = query.value(2).isNull() ? 0 : query.value(2).toLongLong();
    return account;
}

} // namespace

QString EmailKey(const QString& email)
{
    return email.toLower();
}

SqlAccountStore::SqlAccountStore(DatabaseSettings settings) : m_settings(std::move(settings))
{
    static QAtomicInt counter;
    m_connection = QStringLiteral("signetrix-accounts-%1").arg(counter.fetchAndAddRelaxed(1));
}

SqlAccountStore::~SqlAccountStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isValid()) db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool SqlAccountStore::open(QString* error)
{
    if (!QSqlDatabase::isDriverAvailable(m_settings.driver)) {
        *error = QStringLiteral("no Qt SQL driver %1 (available: %2)")
                     .arg(m_settings.driver, QSqlDatabase::drivers().join(QStringLiteral(", ")));
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(m_settings.driver, m_connection);
    db.setDatabaseName(m_settings.name);
    if (!m_settings.host.isEmpty()) db.setHostName(m_settings.host);
    if (m_settings.port > 0) db.setPort(m_settings.port);
    if (!m_settings.user.isEmpty()) db.setUserName(m_settings.user);
    if (!m_settings.password.isEmpty()) db.setPassword(m_settings.password);
    const bool sqlite = m_settings.driver == QLatin1String("QSQLITE");
    QString options = m_settings.connectOptions;
    if (sqlite && !options.contains(QLatin1String("QSQLITE_BUSY_TIMEOUT")))
        options += (options.isEmpty() ? QString() : QStringLiteral(";")) + QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000");
    db.setConnectOptions(options);
    if (!db.open()) {
        *error = QStringLiteral("cannot open the account database: %1").arg(db.lastError().text());
        return false;
    }
    if (sqlite) {
        // A write-ahead log with a sync per commit: a killed server loses no
        // confirmed account.
        QSqlQuery wal(db);
        if (!wal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !wal.next() ||
            wal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            *error = QStringLiteral("the account database cannot use a write-ahead log");
            return false;
        }
        QSqlQuery sync(db);
        if (!sync.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
            *error = QStringLiteral("cannot set the account database's sync mode: %1").arg(sync.lastError().text());
            return false;
        }
    }
    Transaction transaction(db);
    for (const char* statement : kSchema) {
        QSqlQuery query(db);
        if (!query.exec(QString::fromLatin1(statement))) {
            *error = QStringLiteral("cannot create the account tables: %1").arg(query.lastError().text());
            return false;
        }
    }
    if (!transaction.commit()) {
        *error = QStringLiteral("cannot create the account tables: %1").arg(db.lastError().text());
        return false;
    }
    return true;
}

std::optional<Account> SqlAccountStore::find(const QString& email, StoreStatus* status)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT email, password_hash, account_id FROM signetrix_accounts WHERE email_key = ?"));
    query.addBindValue(EmailKey(email));
    if (!Run(query, "find")) {
        *status = StoreStatus::Failed;
        return std::nullopt;
    }
    if (!query.next()) {
        *status = StoreStatus::NotFound;
        return std::nullopt;
    }
    *status = StoreStatus::Ok;
    return ReadAccount(query);
}

StoreStatus SqlAccountStore::putPending(const QString& email, const QByteArray& passwordHash,
                                        const QByteArray& tokenDigest, long long nowSecs)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    Transaction transaction(db);
    if (!transaction.open()) return StoreStatus::Failed;
    QSqlQuery existing(db);
    existing.prepare(QStringLiteral("SELECT account_id FROM signetrix_accounts WHERE email_key = ?"));
    existing.addBindValue(EmailKey(email));
    if (!Run(existing, "look-up before registration")) return StoreStatus::Failed;
    QSqlQuery write(db);
    if (existing.next()) {
        if (!existing.value(0).isNull()) return StoreStatus::Conflict;
        write.prepare(QStringLiteral("UPDATE signetrix_accounts SET email = ?, password_hash = ?, token_digest = ?,"
                                     " token_issued_at = ? WHERE email_key = ? AND account_id IS NULL"));
        write.addBindValue(email);
        write.addBindValue(QString::fromUtf8(passwordHash));
        write.addBindValue(QString::fromLatin1(tokenDigest));
        write.addBindValue(nowSecs);
        write.addBindValue(EmailKey(email));
    } else {
        write.prepare(QStringLiteral("INSERT INTO signetrix_accounts (email_key, email, password_hash, token_digest,"
                                     " token_issued_at, created_at) VALUES (?, ?, ?, ?, ?, ?)"));
        write.addBindValue(EmailKey(email));
        write.addBindValue(email);
        write.addBindValue(QString::fromUtf8(passwordHash));
        write.addBindValue(QString::fromLatin1(tokenDigest));
        write.addBindValue(nowSecs);
        write.addBindValue(nowSecs);
    }
    if (!Run(write, "registration")) return StoreStatus::Failed;
    return transaction.commit() ? StoreStatus::Ok : StoreStatus::Failed;
}

StoreStatus SqlAccountStore::confirm(const QByteArray& tokenDigest, long long nowSecs, long long maxAgeSecs,
                                     const std::function<long long()>& newId, Account* confirmed)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    Transaction transaction(db);
    if (!transaction.open()) return StoreStatus::Failed;
    QSqlQuery pending(db);
    pending.prepare(QStringLiteral("SELECT email_key, email, password_hash, token_issued_at FROM signetrix_accounts"
                                   " WHERE token_digest = ? AND account_id IS NULL"));
    pending.addBindValue(QString::fromLatin1(tokenDigest));
    if (!Run(pending, "token look-up")) return StoreStatus::Failed;
    if (!pending.next()) return StoreStatus::NotFound;
    const QString key = pending.value(0).toString();
    if (nowSecs - pending.value(3).toLongLong() > maxAgeSecs) return StoreStatus::Expired;

    long long id = 0;
    for (int draw = 0; draw < kIdDraws && id == 0; ++draw) {
        const long long candidate = newId();
        QSqlQuery used(db);
        used.prepare(QStringLiteral("SELECT 1 FROM signetrix_issued_ids WHERE account_id = ?"));
        used.addBindValue(candidate);
        if (!Run(used, "id look-up")) return StoreStatus::Failed;
        if (!used.next()) id = candidate;
    }
    if (id == 0) {
        LogLine(QStringLiteral("accounts: no unused id after %1 draws").arg(kIdDraws));
        return StoreStatus::Failed;
    }
    QSqlQuery issue(db);
    issue.prepare(QStringLiteral("INSERT INTO signetrix_issued_ids (account_id, issued_at) VALUES (?, ?)"));
    issue.addBindValue(id);
    issue.addBindValue(nowSecs);
    QSqlQuery update(db);
    update.prepare(QStringLiteral("UPDATE signetrix_accounts SET account_id = ?, confirmed_at = ?, token_digest = NULL,"
                                  " token_issued_at = NULL WHERE email_key = ? AND account_id IS NULL"));
    update.addBindValue(id);
    update.addBindValue(nowSecs);
    update.addBindValue(key);
    if (!Run(issue, "id issue") || !Run(update, "confirmation") || update.numRowsAffected() != 1)
        return StoreStatus::Failed;
    if (!transaction.commit()) return StoreStatus::Failed;
    if (confirmed) {
        confirmed->email = pending.value(1).toString();
        confirmed->passwordHash = pending.value(2).toString().toUtf8();
        confirmed->confirmed = true;
        confirmed->accountId = id;
    }
    return StoreStatus::Ok;
}

StoreStatus SqlAccountStore::changeCredentials(const QString& email, const QString& newEmail,
                                               const QByteArray& newPasswordHash)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    Transaction transaction(db);
    if (!transaction.open()) return StoreStatus::Failed;
    if (EmailKey(newEmail) != EmailKey(email)) {
        QSqlQuery taken(db);
        taken.prepare(QStringLiteral("SELECT 1 FROM signetrix_accounts WHERE email_key = ?"));
        taken.addBindValue(EmailKey(newEmail));
        if (!Run(taken, "address look-up")) return StoreStatus::Failed;
        if (taken.next()) return StoreStatus::Conflict;
    }
    QSqlQuery update(db);
    update.prepare(QStringLiteral("UPDATE signetrix_accounts SET email_key = ?, email = ?, password_hash = ?"
                                  " WHERE email_key = ? AND account_id IS NOT NULL"));
    update.addBindValue(EmailKey(newEmail));
    update.addBindValue(newEmail);
    update.addBindValue(QString::fromUtf8(newPasswordHash));
    update.addBindValue(EmailKey(email));
    if (!Run(update, "credential change")) return StoreStatus::Failed;
    if (update.numRowsAffected() != 1) return StoreStatus::NotFound;
    return transaction.commit() ? StoreStatus::Ok : StoreStatus::Failed;
}

int SqlAccountStore::purgePending(long long issuedBeforeSecs)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    Transaction transaction(db);
    if (!transaction.open()) return 0;
    QSqlQuery purge(db);
    purge.prepare(QStringLiteral("DELETE FROM signetrix_accounts WHERE account_id IS NULL AND token_issued_at < ?"));
    purge.addBindValue(issuedBeforeSecs);
    if (!Run(purge, "purge")) return 0;
    const int removed = purge.numRowsAffected();
    return transaction.commit() ? removed : 0;
}

} // namespace signetrix::server
