// quillory-render-bench: what a rendered product page costs (RenderedPageLoader, renderedpage.h): the time
// from the request to the read document, and the resident memory of the process tree (the engine's
// helper processes included) before, while and after pages are read. Loopback pages whose attribute list
// the page's script builds. Figures, never a test: nothing here fails on a time.
//
//     quillory-render-bench [RUNS]     (QT_QPA_PLATFORM=offscreen for a machine without a display)

#include "processmemory.h"

#include "answer/attributelookup.h"
#include "app/browserpage.h"
#include "app/renderedpage.h"
#include "httpfixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <QWebEngineProfile>

#include <algorithm>
#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;
using Quillory::Bench::treeResidentKiB;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace std::chrono_literals;

namespace {

double residentMiB()
{
    return double(treeResidentKiB(getpid())) / 1024.0;
}

// A product page whose list the page's script builds from its embedded data, after `fillerKiB` KiB of
// description that the served markup holds as it is.
QByteArray productPage(int fillerKiB)
{
    QString filler;
    const QString paragraph = u"<p>商品描述 product description text, line of filler.</p>"_s;
    while (filler.size() * 2 < fillerKiB * 1024)
        filler += paragraph;
    return (u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>宝贝</title>"
            u"<script type=\"application/json\" id=\"data\">{\"attributes\": [[\"货号\", \"A1\"], "
            u"[\"品牌\", \"长春\"]]}</script></head><body><div id=\"attributes\"></div>"
            u"<div id=\"description\">描述加载中</div>"_s +
            filler +
            u"<script>const data = JSON.parse(document.getElementById('data').textContent);"
            u"const list = document.createElement('ul'); list.className = ['attributes', 'list'].join('-');"
            u"for (const [n, v] of data.attributes) { const li = document.createElement('li');"
            u"li.title = '\\u00a0' + v; li.textContent = n + ':\\u00a0' + v; list.append(li); }"
            u"document.getElementById('attributes').append(list);</script></body></html>"_s)
        .toUtf8();
}

void runEvents(std::chrono::milliseconds time)
{
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

struct Sample
{
    RenderedPage page;
    double residentAtReadMiB = 0; // while the hidden page still lives
};

Sample renderOnce(RenderedPageLoader &loader, const QUrl &url)
{
    std::optional<Sample> sample;
    QEventLoop loop;
    RenderRequest request;
    request.url = url;
    request.privateNetworkAllowed = true; // the pages are on this machine
    loader.load(std::move(request), &loop, [&](const RenderedPage &page) {
        sample = Sample{page, residentMiB()};
        loop.quit();
    });
    loop.exec();
    return *sample;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    allowEngineAsRoot();
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 9;
    QTextStream out(stdout);

    HttpFixture server([](const HttpRequest &request) {
        const int kib = request.url.path() == u"/large.htm"_s ? 1024 : 0;
        return HttpReply::html(productPage(kib), "utf-8");
    });
    if (!server.startInThread())
        qFatal("cannot listen on 127.0.0.1");

    QWebEngineProfile profile; // the pane's, off the record: the hidden pages take its user agent
    const double startMiB = residentMiB();
    out << "quillory-render-bench: Qt " << QString::fromLatin1(qVersion()) << ", " << runs
        << " runs a page; process tree resident memory at start " << QString::number(startMiB, 'f', 0)
        << " MiB" << Qt::endl;

    {
        RenderedPageLoader loader(&profile, {}, {15s});
        for (const QString &path : {u"/small.htm"_s, u"/large.htm"_s}) {
            const double beforeMiB = residentMiB();
            QList<double> times;
            QList<double> atRead;
            QString answer;
            for (int i = 0; i < runs; ++i) {
                const Sample sample = renderOnce(loader, server.url(path));
                if (!sample.page.ok())
                    qFatal("%s", qPrintable(sample.page.errorText));
                QString name = u"品牌"_s;
                answer = lookUpAttribute(sample.page.text, name);
                times << double(sample.page.elapsed.count());
                atRead << sample.residentAtReadMiB;
            }
            runEvents(1s); // the last hidden page closes
            const double afterMiB = residentMiB();
            out << "  read once it holds an attribute list, a profile of its own for each page, "
                << (path == u"/large.htm"_s ? "1 MiB" : "2 KiB") << " page: median "
                << QString::number(median(times), 'f', 0) << " ms to the read document; resident "
                << QString::number(beforeMiB, 'f', 0) << " MiB before, "
                << QString::number(median(atRead), 'f', 0) << " MiB at the read (median), "
                << QString::number(afterMiB, 'f', 0) << " MiB after " << runs << " pages; answer " << answer
                << Qt::endl;
        }
    }
    out << "  growth over the whole run: " << QString::number(residentMiB() - startMiB, 'f', 0) << " MiB"
        << Qt::endl;
    return 0;
}
