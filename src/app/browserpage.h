#pragma once

#include "pagetext/browserpane.h"

#include <QVariant>
#include <QWebEnginePage>

#include <functional>

class QWebEngineNewWindowRequest;

namespace Quillory {

// The engine's sandbox cannot start as root, and the engine then refuses to run at all. As root, and
// only then, this lets it run without the sandbox; any other user keeps it. Call it before the
// application object is made.
void allowEngineAsRoot();

// The page shown in the window's browser pane. It owns every script the window runs in a page and
// runs them all in the application's own script world.
class BrowserPage final : public QWebEnginePage, public BrowserPane
{
    Q_OBJECT

public:
    explicit BrowserPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // A script whose answer has not come back by then is taken as a failed read, so no caller waits
    // forever on a page that went away under it.
    static constexpr int scriptAnswerTimeoutMs = 30000;

    // BrowserPane
    QString currentUrl() const override;
    void navigate(const QUrl &url) override;
    void readPage(const PageReadRequest &request, QObject *context,
                  std::function<void(const PageSnapshot &)> done) override;
    void writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                    QObject *context, std::function<void(FieldWrite)> done) override;

    // Markup is read through the engine's own serialization where it can be (the default), else by
    // the exact walk of our own. Tests compare the two.
    void setEngineMarkupAllowed(bool allowed) { m_engineMarkupAllowed = allowed; }

    // The link target of the focused element of the top-level document, "" when it has none.
    void readFocusedLinkTarget(QObject *context, std::function<void(const QString &)> done);

Q_SIGNALS:
    // The page asked for a new window; the request itself has been refused.
    void newWindowRefused();

private:
    void readPageWith(const PageReadRequest &request, bool exact, QObject *context,
                      std::function<void(const PageSnapshot &)> done);
    void runScript(const QString &source, QObject *context, std::function<void(const QVariant &)> done);

    bool m_engineMarkupAllowed = true;
};

} // namespace Quillory
