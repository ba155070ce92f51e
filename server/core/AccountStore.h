#pragma once
// Where accounts live, behind one small interface: pending registrations
// (address, password hash, digest of the confirmation token) and confirmed
// accounts with their id. Every id ever issued is recorded apart and never
// issued again, whatever becomes of its account.
//
// SqlAccountStore keeps them with plain SQL through Qt SQL, so another driver
// (QPSQL for a deployment that outgrows one machine) is a matter of its name.
// Each change runs in a transaction; a failing database answers
// StoreStatus::Failed, never an exception.
#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace signetrix::server {

struct Account {
    QString email; // as the user typed it
    QByteArray passwordHash;
    bool confirmed = false;
    long long accountId = 0; // 0 while pending
};

enum class StoreStatus {
    Ok,
    NotFound,
    Conflict, // the address belongs to a confirmed account, or the new address to another account
    Expired,  // the confirmation token is too old
    Failed,   // the database refused or went away
};

// Addresses are one account whatever their letter case.
QString EmailKey(const QString& email);

class AccountStore {
public:
    virtual ~AccountStore() = default;

    virtual std::optional<Account> find(const QString& email, StoreStatus* status) = 0;
    // A new pending account, or new letters and a new token for a pending one
    // (the older link stops working). Conflict for a confirmed address.
    virtual StoreStatus putPending(const QString& email, const QByteArray& passwordHash, const QByteArray& tokenDigest,
                                   long long nowSecs) = 0;
    // Confirms the pending account holding the token with an id drawn from
    // newId that was never issued before.
    virtual StoreStatus confirm(const QByteArray& tokenDigest, long long nowSecs, long long maxAgeSecs,
                                const std::function<long long()>& newId, Account* confirmed) = 0;
    // Replaces the address and password hash of a confirmed account.
    virtual StoreStatus changeCredentials(const QString& email, const QString& newEmail,
                                          const QByteArray& newPasswordHash) = 0;
    // Forgets pending registrations whose token is older than the given time.
    virtual int purgePending(long long issuedBeforeSecs) = 0;
};

struct DatabaseSettings {
    QString driver = QStringLiteral("QSQLITE");
    QString name; // SQLite: the file
    QString host;
    int port = -1;
    QString user;
    QString password;
    QString connectOptions;
};

class SqlAccountStore : public AccountStore {
public:
    explicit SqlAccountStore(DatabaseSettings settings);
    ~SqlAccountStore() override;
    SqlAccountStore(const SqlAccountStore&) = delete;
    SqlAccountStore& operator=(const SqlAccountStore&) = delete;

    // Connects and creates the tables when missing; false with a text otherwise.
    bool open(QString* error);

    std::optional<Account> find(const QString& email, StoreStatus* status) override;
    StoreStatus putPending(const QString& email, const QByteArray& passwordHash, const QByteArray& tokenDigest,
                           long long nowSecs) override;
    StoreStatus confirm(const QByteArray& tokenDigest, long long nowSecs, long long maxAgeSecs,
                        const std::function<long long()>& newId, Account* confirmed) override;
    StoreStatus changeCredentials(const QString& email, const QString& newEmail,
                                  const QByteArray& newPasswordHash) override;
    int purgePending(long long issuedBeforeSecs) override;

private:
    DatabaseSettings m_settings;
    QString m_connection;
};

} // namespace signetrix::server
