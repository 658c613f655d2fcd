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
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
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

// A product page that first stores what it can (1 MiB in local and session storage, IndexedDB and the
// Cache API each, 200 cookies, a file in the origin's file system, a service worker if it could), then
// builds its list: served from this machine, where plain http counts as secure and every store opens.
QByteArray storingPage()
{
    return QString::fromUtf8(productPage(0))
        .replace(u"<script>const data"_s,
                 u"<script>(async () => { const big = 'x'.repeat(1 << 20);"
                 u"try { localStorage.setItem('k', big); sessionStorage.setItem('k', big); } catch (e) {}"
                 u"try { await new Promise((ok, fail) => { const o = indexedDB.open('s', 1);"
                 u"  o.onupgradeneeded = () => o.result.createObjectStore('s');"
                 u"  o.onsuccess = () => { const t = o.result.transaction('s', 'readwrite');"
                 u"  t.objectStore('s').put(big, 'k'); t.oncomplete = ok; t.onerror = fail; }; o.onerror = "
                 u"fail; });"
                 u"} catch (e) {}"
                 u"try { await (await caches.open('c')).put('/c', new Response(big)); } catch (e) {}"
                 u"for (let i = 0; i < 200; ++i) document.cookie = 'c' + i + '=' + i + '; max-age=99999';"
                 u"try { await (await navigator.storage.getDirectory()).getFileHandle('f', {create: true}); }"
                 u"catch (e) {}"
                 u"try { await navigator.serviceWorker.register('/sw.js'); } catch (e) {}"
                 u"const data"_s)
        .replace(u"list.append(li); }"_s, u"list.append(li); }"_s)
        .replace(u"document.getElementById('attributes').append(list);</script>"_s,
                 u"document.getElementById('attributes').append(list); })();</script>"_s)
        .toUtf8();
}

struct FolderSize
{
    qint64 files = 0;
    qint64 bytes = 0;
    QStringList stores; // the top folders that hold something
};

FolderSize folderSize(const QString &path)
{
    FolderSize size;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        ++size.files;
        size.bytes += file.size();
        const QString top = QDir(path).relativeFilePath(file.filePath()).section(u'/', 0, 1);
        if (!size.stores.contains(top))
            size.stores << top;
    }
    return size;
}

QString describe(const FolderSize &size)
{
    return u"%1 files, %2 KiB"_s.arg(size.files).arg(double(size.bytes) / 1024.0, 0, 'f', 1);
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
        if (request.url.path() == u"/store.htm"_s)
            return HttpReply::html(storingPage(), "utf-8");
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
                answer = lookUpAttribute(sample.page.text, name, nullptr, PageForm::Rendered);
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
    // What a page that stores all it can leaves behind after many hidden loads: the pane's profile on
    // disk, as the window keeps it, and the place where the engine would keep other profiles.
    {
        QTemporaryDir folder;
        auto pane = std::make_unique<QWebEngineProfile>(u"pane"_s);
        pane->setPersistentStoragePath(folder.filePath(u"profile"_s));
        pane->setCachePath(folder.filePath(u"cache"_s));
        {
            QWebEnginePage view(pane.get()); // the pane shows a page of its own
            QEventLoop loop;
            QObject::connect(&view, &QWebEnginePage::loadFinished, &loop, &QEventLoop::quit);
            view.load(server.url(u"/small.htm"_s));
            loop.exec();
        }
        runEvents(2s);
        const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        const FolderSize before = folderSize(folder.path());
        const FolderSize appBefore = folderSize(appData);
        RenderedPageLoader loader(pane.get(), {}, {15s});
        constexpr int loads = 100;
        QList<double> times;
        for (int i = 0; i < loads; ++i) {
            const Sample sample = renderOnce(loader, server.url(u"/store.htm"_s));
            if (!sample.page.ok())
                qFatal("%s", qPrintable(sample.page.errorText));
            times << double(sample.page.elapsed.count());
        }
        runEvents(2s);
        const FolderSize after = folderSize(folder.path());
        out << "  " << loads << " hidden loads of a page that stores about 4 MiB each (median "
            << QString::number(median(times), 'f', 0) << " ms a load): the pane's profile folder "
            << describe(before) << " before, " << describe(after) << " after; its folders "
            << after.stores.join(u", "_s) << "; the engine's other profiles' folder " << describe(appBefore)
            << " before, " << describe(folderSize(appData)) << " after" << Qt::endl;
    }
    out << "  growth over the whole run: " << QString::number(residentMiB() - startMiB, 'f', 0) << " MiB"
        << Qt::endl;
    return 0;
}
