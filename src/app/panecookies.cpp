#include "panecookies.h"

#include "platform.h"

#include <QDateTime>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <optional>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

// The engine keeps no more than this many cookies; a bound on what a damaged file could hold up.
constexpr int kMaxRows = 3300;
// Nor a file larger than this: the engine's file of that many cookies is a fraction of it.
constexpr qint64 kMaxFileBytes = 256 * 1024 * 1024;

// The engine's times count microseconds since 1601-01-01 UTC.
constexpr qint64 kEngineEpochToUnixSeconds = 11644473600;

QDateTime engineTime(qint64 microseconds)
{
    return QDateTime::fromSecsSinceEpoch(microseconds / 1000000 - kEngineEpochToUnixSeconds, Qt::UTC);
}

QNetworkCookie::SameSite sameSiteOf(int value)
{
    switch (value) {
    case 0:
        return QNetworkCookie::SameSite::None;
    case 1:
        return QNetworkCookie::SameSite::Lax;
    case 2:
        return QNetworkCookie::SameSite::Strict;
    default:
        return QNetworkCookie::SameSite::Default;
    }
}

QByteArray columnBytes(sqlite3_stmt *row, int column)
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(row, column));
    return QByteArray(data, sqlite3_column_bytes(row, column));
}

// One row as the pane's store would report it; none for what the pane would not send after a restart
// or what cannot be read (a value the engine encrypted).
std::optional<QNetworkCookie> cookieOf(sqlite3_stmt *row, const QDateTime &now)
{
    const QByteArray value = columnBytes(row, 2);
    const QDateTime expires = engineTime(sqlite3_column_int64(row, 4));
    if (sqlite3_column_int(row, 8) == 0 || expires <= now ||
        (value.isEmpty() && sqlite3_column_bytes(row, 9) > 0))
        return std::nullopt;
    QNetworkCookie cookie(columnBytes(row, 1), value);
    cookie.setDomain(QString::fromUtf8(columnBytes(row, 0)));
    cookie.setPath(QString::fromUtf8(columnBytes(row, 3)));
    cookie.setExpirationDate(expires);
    cookie.setSecure(sqlite3_column_int(row, 5) != 0);
    cookie.setHttpOnly(sqlite3_column_int(row, 6) != 0);
    cookie.setSameSitePolicy(sameSiteOf(sqlite3_column_int(row, 7)));
    return cookie;
}

PaneCookies readDatabase(const QString &path)
{
    sqlite3 *database = nullptr;
    const auto closeDatabase = qScopeGuard([&database] { sqlite3_close(database); });
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &database, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        return {false, {}, QString::fromUtf8(sqlite3_errmsg(database))};
    sqlite3_stmt *row = nullptr;
    const auto finalize = qScopeGuard([&row] { sqlite3_finalize(row); });
    const QByteArray query =
        "SELECT host_key, name, value, path, expires_utc, is_secure, is_httponly, samesite, "
        "is_persistent, encrypted_value FROM cookies LIMIT " +
        QByteArray::number(kMaxRows);
    if (sqlite3_prepare_v2(database, query.constData(), int(query.size()), &row, nullptr) != SQLITE_OK)
        return {false, {}, QString::fromUtf8(sqlite3_errmsg(database))};
    PaneCookies result{true, {}, {}};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(row)) == SQLITE_ROW) {
        if (const std::optional<QNetworkCookie> cookie = cookieOf(row, now))
            result.cookies.append(*cookie);
    }
    if (step != SQLITE_DONE)
        return {false, {}, QString::fromUtf8(sqlite3_errmsg(database))};
    return result;
}

// Copies the regular file `from` to `to`, up to `maxBytes`. Anything else in its place (a FIFO, which
// would hold up the window's start until a writer came, a folder, a device) is not read: `error` says
// what it is. A missing file copies nothing and is no error.
bool copyRegularFile(const QString &from, const QString &to, qint64 maxBytes, QString &error)
{
    const Platform::OpenedFile opened = Platform::openRegularFile(from, true);
    if (opened.missing)
        return false;
    if (opened.descriptor < 0) {
        error = opened.notRegular.isEmpty()
                    ? QString(from + u": "_s + opened.error)
                    : QString(from + u" is "_s + opened.notRegular + u", not a regular file"_s);
        return false;
    }
    QFile source;
    QFile target(to);
    if (!source.open(opened.descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ||
        !target.open(QIODevice::WriteOnly)) {
        error = u"cannot copy "_s + from;
        return false;
    }
    if (source.size() > maxBytes) {
        error = from + u" is larger than any cookie file of the engine"_s;
        return false;
    }
    QByteArray chunk;
    while (!(chunk = source.read(1 << 20)).isEmpty()) {
        if (target.write(chunk) != chunk.size()) {
            error = u"cannot copy "_s + from;
            return false;
        }
    }
    return true;
}

} // namespace

// The engine's file is read from a copy: the engine may open it at any moment, and a reader of the
// file itself could hold it up or be held up. The copy comes with its journal, so that a write the
// engine did not finish is undone in the copy as the engine would undo it. Only regular files are
// read, on the window's thread at start, so nothing in their place may hold it up.
PaneCookies readPaneCookies(const QString &profileFolder)
{
    const QString original = profileFolder + u"/Cookies"_s;
    const QTemporaryDir copyFolder;
    const QString copy = copyFolder.filePath(u"Cookies"_s);
    if (!copyFolder.isValid())
        return {false, {}, u"cannot make a folder for a copy of "_s + original};
    QString error;
    if (!copyRegularFile(original, copy, kMaxFileBytes, error))
        return {error.isEmpty(), {}, error};
    if (!copyRegularFile(original + u"-journal"_s, copy + u"-journal"_s, kMaxFileBytes, error) &&
        !error.isEmpty())
        return {false, {}, error};
    return readDatabase(copy);
}

} // namespace Quillory
