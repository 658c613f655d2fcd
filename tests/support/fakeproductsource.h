#pragma once

// A clock that moves only when the test moves it, and a source of product pages that answers only when
// the test lets it: the product pages' rules tested in milliseconds, in an order the test decides.

#include "answer/productsource.h"
#include "pagetext/clock.h"

#include <QList>
#include <QPointer>

#include <memory>

namespace Quillory::Testing {

class FakeClock final : public Clock
{
public:
    std::chrono::milliseconds now() const override { return m_now; }
    void advance(std::chrono::milliseconds by) { m_now += by; }

private:
    std::chrono::milliseconds m_now{1000};
};

class FakeProductSource final : public ProductSource
{
public:
    struct Fetch
    {
        DownloadRequest request;
        QPointer<QObject> context;
        Done done;
        bool cancelled = false;
        bool answered = false;
    };

    Cancel fetch(const DownloadRequest &request, QObject *context, Done done) override
    {
        auto fetch = std::make_shared<Fetch>(Fetch{request, context, std::move(done)});
        m_fetches.append(fetch);
        return [fetch] {
            fetch->cancelled = true;
        };
    }

    QStringList sessionCookies(const DownloadRequest &) const override { return m_cookies; }

    // Answers the fetch `index` with a page of `text` (or with `result` as given).
    void answer(qsizetype index, const QString &text)
    {
        DownloadResult result;
        result.status = DownloadResult::Status::Ok;
        result.text = text;
        answer(index, result);
    }
    void answer(qsizetype index, const DownloadResult &result)
    {
        Fetch &fetch = *m_fetches.at(index);
        fetch.answered = true;
        if (fetch.context)
            fetch.done(result);
    }

    const QList<std::shared_ptr<Fetch>> &fetches() const { return m_fetches; }
    void setCookies(QStringList cookies) { m_cookies = std::move(cookies); }

private:
    QList<std::shared_ptr<Fetch>> m_fetches;
    QStringList m_cookies;
};

} // namespace Quillory::Testing
