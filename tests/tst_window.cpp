// The player window: layout, initial state, menu, flash, the control's buttons reaching the
// handlers, exit. Start, Stop and File > Open on the real window are driven by tst_hostile;
// the picture links by e2e_links.

#include "Assets.h"
#include "CommonDialog.h"
#include "FakeDevice.h"
#include "Links.h"
#include "MultimediaControl.h"
#include "ShellOpen.h"
#include "frmMidiPlayer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

struct RecordingShell : links::ShellOpener {
    QStringList opened;
    void shellExecute(const links::ShellRequest& request) override { opened << request.file; }
};

// A window over a fake device; the window deletes itself when closed.
struct Rig {
    std::shared_ptr<FakeDevice::Log> log = std::make_shared<FakeDevice::Log>();
    RecordingShell shell;
    QPointer<frmMidiPlayer> window = new frmMidiPlayer(std::make_unique<FakeDevice>(log),
                                                       assets::registerBundledFonts(), &shell);
    ~Rig() { delete window.data(); }

    template <typename T = QWidget>
    T* get(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }
    QStringList commands() const
    {
        QStringList out;
        for (const std::string& e : *log)
            out << QString::fromStdString(e);
        return out;
    }
};

QString textOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    return {};
}

} // namespace

class tst_Window : public QObject {
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void initialState();
    void focusOrder();
    void menu();
    void flashBlinksTheCaption();
    void controlButtonsGoThroughTheHandlers();
    void exitClosesTheWindowAndTheDevice();
    void backgroundShowsBehindTheCaptions();
};

void tst_Window::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");          // pixels; for labels sized to their text, the size is the text's
    QTest::addColumn<bool>("sizedToText");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("font");        // "ui", "ui bold", "display" or none
    QTest::addColumn<QString>("textColour");  // none when the control does not set it
    QTest::addColumn<QPoint>("probe");        // a point of the client area where the control shows its background
    QTest::addColumn<QString>("probeColour");

    auto row = [](const char* name, QRect r, bool sized, const char* text, const char* font,
                  const char* textColour, QPoint probe = {-1, -1}, const char* probeColour = "") {
        QTest::newRow(name) << QString::fromLatin1(name) << r << sized << QString::fromLatin1(text)
                            << QString::fromLatin1(font) << QString::fromLatin1(textColour) << probe
                            << QString::fromLatin1(probeColour);
    };
    // Front-most first, as they must stack.
    row("btnStop", {128, 8, 25, 29}, false, "", "", "");
    row("btnStart", {88, 8, 41, 29}, false, "", "", "");
    row("chkLoopSounds", {1, 0, 255, 21}, false, "Loop Sounds", "ui bold", "#ffffff", {200, 10}, "#000000");
    row("MMControl1", {8, 144, 236, 25}, false, "", "", "");
    row("Label3", {0, 72, 0, 0}, true, "FileName:", "ui bold", "#ff0000");
    row("lblFileName", {56, 72, 195, 17}, false, "[none]", "ui", "#000000", {240, 80}, "#ffffff");
    row("Label1", {0, 144, 257, 33}, false, "", "", "", {3, 160}, "#000000");
    row("lblMidi", {267, 8, 0, 0}, true, "MIDI SYNTH.", "display", "#c0c0c0");
    row("Label4", {264, 8, 0, 0}, true, "MIDI SYNTH.", "display", "#404040");
    row("Label5", {264, 40, 0, 0}, true, "WAV AUDIO", "display", "#404040");
    row("lblCD", {264, 72, 0, 0}, true, "CD AUDIO", "display", "#404040");
    row("Label7", {264, 104, 0, 0}, true, "AVI VIDEO", "display", "#404040");
    row("Line1", {259, 0, 2, 184}, false, "", "", "", {260, 150}, "#c0c0c0");
    row("Line2", {258, 0, 2, 184}, false, "", "", "", {258, 150}, "#808080");
    row("Image3", {0, -24, 257, 169}, false, "", "", "");
    row("Line4", {408, 0, 2, 184}, false, "", "", "", {409, 150}, "#808080");
    row("Line3", {410, 0, 2, 184}, false, "", "", "", {411, 40}, "#c0c0c0");
    row("Image2", {410, 0, 137, 81}, false, "", "", "");
    row("Image1", {411, 80, 137, 80}, false, "", "", "");
}

void tst_Window::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QFETCH(bool, sizedToText);
    QFETCH(QString, text);
    QFETCH(QString, font);
    QFETCH(QString, textColour);
    QFETCH(QPoint, probe);
    QFETCH(QString, probeColour);

    Rig rig;
    QWidget* client = rig.window->centralWidget();
    auto* w = client->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
    QVERIFY2(w, "not a child of the client area");

    if (sizedToText) {
        QCOMPARE(w->pos(), rect.topLeft());
        QCOMPARE(w->size(), w->sizeHint());
    } else {
        QCOMPARE(w->geometry(), rect);
    }
    QCOMPARE(textOf(w), text);

    if (!font.isEmpty()) {
        const bool display = font == QLatin1String("display");
        QCOMPARE(w->font().family(), display ? assets::registerBundledFonts() : assets::uiFontFamily());
        QCOMPARE(w->font().pointSizeF(), display ? 14.25 : 8.25);
        QCOMPARE(w->font().bold(), font != QLatin1String("ui"));
    }
    if (!textColour.isEmpty())
        QCOMPARE(w->palette().color(QPalette::WindowText).name(), textColour);

    // Stacking: the table lists front-most first, so the row number counts from the front.
    const QList<QWidget*> stack = client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    const int fromFront = int(stack.size() - 1 - stack.indexOf(w));
    static const QStringList order{"btnStop", "btnStart", "chkLoopSounds", "MMControl1", "Label3",
                                   "lblFileName", "Label1", "lblMidi", "Label4", "Label5", "lblCD",
                                   "Label7", "Line1", "Line2", "Image3", "Line4", "Line3", "Image2", "Image1"};
    QCOMPARE(stack.size(), order.size());
    QCOMPARE(fromFront, order.indexOf(name));

    if (probe.x() >= 0) {
        const QImage shot = client->grab().toImage();
        QCOMPARE(client->childAt(probe), w);
        QCOMPARE(QColor(shot.pixel(probe)).name(), probeColour);
    }
}

void tst_Window::initialState()
{
    Rig rig;
    QCOMPARE(rig.window->objectName(), QStringLiteral("frmMidiPlayer"));
    QCOMPARE(rig.window->windowTitle(), QStringLiteral(":: KESTRAVOX :: Mellowdeck :: Release-I ::"));
    QVERIFY(!rig.window->windowIcon().isNull());
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window));

    // A fixed client area of 540 x 173 below the menu bar.
    QCOMPARE(rig.window->centralWidget()->size(), QSize(540, 173));
    QCOMPARE(rig.window->centralWidget()->y(), rig.window->menuBar()->height());
    QCOMPARE(rig.window->size(), QSize(540, 173 + rig.window->menuBar()->height()));
    QCOMPARE(rig.window->minimumSize(), rig.window->maximumSize());

    QVERIFY(!rig.get("btnStart")->isEnabled());
    QVERIFY(!rig.get("btnStop")->isEnabled());
    QCOMPARE(rig.get<QCheckBox>("chkLoopSounds")->checkState(), Qt::Unchecked);
    QCOMPARE(rig.get<QLabel>("lblFileName")->text(), QStringLiteral("[none]"));

    auto* mm = rig.get<md::MultimediaControl>("MMControl1");
    QCOMPARE(mm->mode(), 524);
    QCOMPARE(mm->updateInterval(), 0);

    auto* timer = rig.get<QTimer>("tmrFlash");
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), 1400);

    auto* dialog = rig.get<md::CommonDialog>("CMDialog1");
    QVERIFY(dialog);
    QCOMPARE(dialog->title(), QStringLiteral("Open an MCI File"));
    QCOMPARE(dialog->filter(), QStringLiteral("MIDI Files (*.mid,*.rmi)|*.mid;*.rmi|"));
    QCOMPARE(dialog->defaultExt(), QStringLiteral(".mid;.rmi"));
    QVERIFY(rig.commands().isEmpty());
}

void tst_Window::focusOrder()
{
    Rig rig;
    rig.get("btnStart")->setEnabled(true);   // disabled buttons take no focus
    rig.get("btnStop")->setEnabled(true);
    rig.window->show();
    QApplication::setActiveWindow(rig.window);
    QVERIFY(QTest::qWaitForWindowActive(rig.window));

    QTRY_COMPARE(QApplication::focusWidget(), rig.get("MMControl1"));
    QStringList visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, (QStringList{"chkLoopSounds", "btnStart", "btnStop", "MMControl1"}));
}

void tst_Window::menu()
{
    Rig rig;
    const QList<QAction*> bar = rig.window->menuBar()->actions();
    QCOMPARE(bar.size(), 1);
    QCOMPARE(bar[0]->text(), QStringLiteral("&File"));
    QCOMPARE(bar[0]->menu()->objectName(), QStringLiteral("mnuFile"));

    QStringList items;
    for (QAction* a : bar[0]->menu()->actions())
        items << a->objectName() + QLatin1Char('=') + (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(items, (QStringList{"mnuFileOpen=&Open", "mnuSep=-", "mnuFileExit=E&xit"}));
}

void tst_Window::flashBlinksTheCaption()
{
    Rig rig;
    rig.window->show();
    auto* lblMidi = rig.get<QLabel>("lblMidi");
    QVERIFY(lblMidi->isVisible());

    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(lblMidi->isHidden(), 5000);
    QVERIFY2(clock.elapsed() >= 1300, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(lblMidi->isVisible(), 5000);
    QVERIFY2(clock.elapsed() >= 2700, qPrintable(QString::number(clock.elapsed())));
    // Only the lit copy blinks.
    QVERIFY(rig.get("Label4")->isVisible());
}

void tst_Window::controlButtonsGoThroughTheHandlers()
{
    Rig rig;
    auto* mm = rig.get<md::MultimediaControl>("MMControl1");
    mm->setFileName(QStringLiteral("/music/a.mid"));
    mm->setCommand(QStringLiteral("Open"));
    rig.log->clear();

    // The control's own Play arms the poll before playing...
    QTest::mouseClick(mm->button(md::MultimediaControl::Play), Qt::LeftButton);
    QCOMPARE(mm->updateInterval(), 55);
    QCOMPARE(rig.commands(), QStringList{"play"});
    mm->setUpdateInterval(0);

    // ... and its own Stop goes through the Stop handler first.
    rig.log->clear();
    QTest::mouseClick(mm->button(md::MultimediaControl::Stop), Qt::LeftButton);
    QCOMPARE(rig.commands(), (QStringList{"stop", "prev", "stop"}));
}

void tst_Window::exitClosesTheWindowAndTheDevice()
{
    Rig rig;
    rig.window->show();
    auto* mm = rig.get<md::MultimediaControl>("MMControl1");
    mm->setFileName(QStringLiteral("/music/a.mid"));
    mm->setCommand(QStringLiteral("Open"));
    mm->setCommand(QStringLiteral("Play"));

    rig.get<QAction>("mnuFileExit")->trigger();
    QVERIFY(!rig.window->isVisible());
    QTRY_VERIFY(rig.window.isNull());
    QCOMPARE(rig.commands().last(), QStringLiteral("close"));
}

void tst_Window::backgroundShowsBehindTheCaptions()
{
    Rig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window));
    const QImage shot = rig.window->grab().toImage();
    const QImage background(assets::kBackground);
    const int top = rig.window->menuBar()->height();
    QCOMPARE(shot.pixelColor(300, top + 160), background.pixelColor(300, 160));
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
