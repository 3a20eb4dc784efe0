// The picture links: what each click asks of the shell, which presses count as a click,
// and how the desktop opener hands an address to the browser. The hand cursor, left and
// right clicks and repeated clicks on the real window are checked by e2e_links.
#include "Links.h"
#include "PictureLink.h"
#include "ShellOpen.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>
#include <QtTest>

#include <vector>

namespace {

class RecordingShell final : public links::ShellOpener {
public:
    std::vector<links::ShellRequest> requests;
    void shellExecute(const links::ShellRequest& request) override { requests.push_back(request); }
};

// Receives what QDesktopServices::openUrl is asked to open for https addresses.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

} // namespace

class TestLinks : public QObject {
    Q_OBJECT
private slots:
    void clickMakesOneOpenRequest_data();
    void clickMakesOneOpenRequest();
    void addressesAreDistinctHttpsPages();

    void onlyAReleaseOnThePictureIsAClick();
    void pictureIsStretchedToItsBox();

    void desktopOpenerPassesAddressAsOneArgument();
    void desktopOpenerFallsBackWithoutXdgOpen();
};

void TestLinks::clickMakesOneOpenRequest_data()
{
    QTest::addColumn<int>("image");
    QTest::addColumn<QString>("address");
    QTest::newRow("Image1 opens the first address") << 1 << links::kFirstAddress;
    QTest::newRow("Image2 opens the second address") << 2 << links::kSecondAddress;
}

void TestLinks::clickMakesOneOpenRequest()
{
    QFETCH(int, image);
    QFETCH(QString, address);
    QWidget window;
    RecordingShell shell;

    (image == 1 ? links::Image1_Click : links::Image2_Click)(&window, shell);

    QCOMPARE(shell.requests.size(), std::size_t(1));
    const links::ShellRequest& r = shell.requests.front();
    QCOMPARE(r.window, &window);
    QCOMPARE(r.operation, QStringLiteral("Open"));
    QCOMPARE(r.file, address);
    QVERIFY(r.parameters.isEmpty());
    QCOMPARE(r.directory, QCoreApplication::applicationDirPath());
    QCOMPARE(r.showCommand, 1);
}

void TestLinks::addressesAreDistinctHttpsPages()
{
    for (const QString& address : {links::kFirstAddress, links::kSecondAddress}) {
        const QUrl url(address, QUrl::StrictMode);
        QVERIFY2(url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty(),
                 qPrintable(address));
    }
    QVERIFY(links::kFirstAddress != links::kSecondAddress);
}

void TestLinks::onlyAReleaseOnThePictureIsAClick()
{
    links::PictureLink picture;
    picture.resize(137, 81);
    QSignalSpy clicked(&picture, &links::PictureLink::clicked);

    QTest::mouseClick(&picture, Qt::LeftButton, {}, QPoint(136, 80));   // the last pixel
    QCOMPARE(clicked.count(), 1);
    QTest::mousePress(&picture, Qt::LeftButton, {}, QPoint(60, 40));
    QTest::mouseRelease(&picture, Qt::LeftButton, {}, QPoint(137, 40));   // dragged off
    QCOMPARE(clicked.count(), 1);
}

void TestLinks::pictureIsStretchedToItsBox()
{
    QImage art(20, 10, QImage::Format_RGB32);   // red left half, blue right half
    art.fill(Qt::red);
    for (int y = 0; y < art.height(); ++y)
        for (int x = 10; x < art.width(); ++x)
            art.setPixel(x, y, qRgb(0, 0, 255));

    links::PictureLink picture;
    picture.setPixmap(QPixmap::fromImage(art));
    picture.resize(137, 80);
    const QImage shown = picture.grab().toImage();

    QCOMPARE(shown.size(), QSize(137, 80));
    for (int y : {0, 40, 79}) {
        QCOMPARE(QColor(shown.pixel(0, y)), QColor(Qt::red));
        QCOMPARE(QColor(shown.pixel(55, y)), QColor(Qt::red));
        QCOMPARE(QColor(shown.pixel(82, y)), QColor(Qt::blue));
        QCOMPARE(QColor(shown.pixel(136, y)), QColor(Qt::blue));
    }
}

// A stand-in xdg-open early in PATH records its working directory and arguments,
// one file per run.
void TestLinks::desktopOpenerPassesAddressAsOneArgument()
{
    QTemporaryDir bin, work, log;
    QVERIFY(bin.isValid() && work.isValid() && log.isValid());
    QFile script(bin.filePath(QStringLiteral("xdg-open")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\n"
                                "out='%1'/run.$$\n"
                                "{ pwd; printf '%s\\n' \"$#\" \"$@\"; } > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n")
                     .arg(log.path())
                     .toUtf8());
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ':' + oldPath);
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");

    // Characters a shell would act on must reach the browser untouched.
    const QString address = QStringLiteral("https://example.org/a b;echo $(id)&x='1'");
    links::DesktopShellOpener opener;
    opener.shellExecute({nullptr, QStringLiteral("Print"), address, {}, work.path(), 1});
    opener.shellExecute({nullptr, QStringLiteral("Open"), address, {}, work.path(), 1});

    QDir logDir(log.path());
    const QStringList pattern{QStringLiteral("run.*[0-9]")};
    QTRY_VERIFY(!logDir.entryList(pattern, QDir::Files).isEmpty());
    QTest::qWait(300);   // time enough for a wrongly started second run to show up
    const QStringList runs = logDir.entryList(pattern, QDir::Files);
    qputenv("PATH", oldPath);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    QCOMPARE(runs.size(), 1);
    QFile recorded(logDir.filePath(runs.front()));
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(recorded.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QDir(work.path()).canonicalPath());
    QCOMPARE(lines.value(1), QStringLiteral("1"));
    QCOMPARE(lines.value(2), address);
    QVERIFY(catcher.urls.isEmpty());   // opened once, not a second time through Qt
}

void TestLinks::desktopOpenerFallsBackWithoutXdgOpen()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", empty.path().toUtf8());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");

    links::DesktopShellOpener opener;
    opener.shellExecute({nullptr, QStringLiteral("Open"), links::kFirstAddress, {}, empty.path(), 1});

    qputenv("PATH", oldPath);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl(links::kFirstAddress)});
}

QTEST_MAIN(TestLinks)
#include "tst_links.moc"
