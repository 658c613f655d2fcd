#pragma once

#include "answer/answeringpass.h"
#include "app/form1.h"
#include "browsertest.h"
#include "tableresolver.h"

#include <QPushButton>
#include <QTest>

// What the tests of misbehaving product servers and trial pages share.
namespace Quillory::Testing::Hostile {

// Short limits, so that a server that misbehaves is given up on within a second or two rather than a
// minute. The server that trickles sends every 20 ms, far within the transfer time-out; going back a
// page while the download waits for a silent server takes a small part of it.
// Names that a hostile page may give as its answer link, and where they lead.
inline const TableResolver &hostileNames()
{
    static const TableResolver resolver({{QStringLiteral("loop.example"), {QStringLiteral("127.0.0.1")}},
                                         {QStringLiteral("intranet.example"), {QStringLiteral("10.1.2.3")}}});
    return resolver;
}

inline WindowOptions shortLimits()
{
    using namespace std::chrono_literals;
    WindowOptions options;
    options.hostResolver = &hostileNames();
    options.downloadLimits.transferTimeout = 1s;
    options.downloadLimits.totalTimeout = 2s;
    options.downloadLimits.maxBodyBytes = 1024 * 1024;
    return options;
}

// The product page's raw value for "品牌": "长春" as character references after a no-break space.
inline const QString brandValue = QStringLiteral("&nbsp;&#38271;&#26149;");

// A window with short limits for each test, shown.
inline void openWindow(std::unique_ptr<Form1> &window)
{
    window = std::make_unique<Form1>(shortLimits());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get(), eventCeilingMs));
}

// A pass from the answer button to its end.
inline void runPass(Form1 &window)
{
    window.Command_dati->click();
    QUILLORY_TRY_VERIFY(!window.answeringPass()->isRunning());
    QVERIFY(window.Command_dati->isEnabled());
}

} // namespace Quillory::Testing::Hostile
