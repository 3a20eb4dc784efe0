// The real player window over a device that logs commands: what it shows, the blinking
// caption, the wiring of its controls, the two links and File > Exit; over the real device,
// SoundFonts dropped on it.

#include "Assets.h"
#include "CommonDialog.h"
#include "FakeDevice.h"
#include "Links.h"
#include "MultimediaControl.h"
#include "Support.h"
#include "frmMidiPlayer.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

struct RecordingShell : links::ShellOpener {
    QList<links::ShellRequest> requests;
    void shellExecute(const links::ShellRequest& r) override { requests.append(r); }
};

struct Rig {
    FakeDevice* device = new FakeDevice;
    std::shared_ptr<FakeDevice::Log> log = device->log;
    RecordingShell shell;
    QPointer<frmMidiPlayer> window =
        new frmMidiPlayer(std::unique_ptr<md::Device>(device), assets::registerBundledFonts(), &shell);
    template <class T> T* find(const char* name) const { return window->findChild<T*>(QLatin1String(name)); }
    bool shown() const { window->show(); return QTest::qWaitForWindowExposed(window); }
    ~Rig() { delete window.data(); }
    void open(const QString& path)
    {
        find<md::CommonDialog>("CMDialog1")->setChooser([path](QFileDialog&) { return std::optional<QString>(path); });
        find<QAction>("mnuFileOpen")->trigger();
    }
};

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void looksAsDrawn()
    {
        Rig rig;
        QVERIFY(rig.shown());
        auto* start = rig.find<QPushButton>("btnStart");
        auto* stop = rig.find<QPushButton>("btnStop");
        // Start is the wider, left one; neither can be pressed before a file is opened.
        QVERIFY(start->width() > stop->width() && start->x() < stop->x());
        QVERIFY(!start->isEnabled() && !stop->isEnabled());
        QCOMPARE(rig.find<QLabel>("lblFileName")->text(), QStringLiteral("[none]"));
        QCOMPARE(rig.window->windowTitle(), QStringLiteral(":: KESTRAVOX :: Mellowdeck :: Release-I ::"));
        QStringList texts;
        for (const char* name : {"chkLoopSounds", "Label3", "lblMidi", "Label5", "lblCD", "Label7"})
            texts << rig.window->findChild<QWidget*>(name)->property("text").toString();
        for (QAction* a : rig.find<QMenu>("mnuFile")->actions())
            texts << a->text();
        QCOMPARE(texts.join('|'), QStringLiteral("Loop Sounds|FileName:|MIDI SYNTH.|WAV AUDIO|CD AUDIO|AVI VIDEO|&Open||E&xit"));
        QCOMPARE(rig.window->centralWidget()->size(), QSize(540, 173));
        // The lit caption blinks over the dark one.
        auto* lit = rig.find<QLabel>("lblMidi");
        auto* timer = rig.find<QTimer>("tmrFlash");
        QCOMPARE(timer->interval(), 1400);
        QVERIFY(timer->isActive() && !lit->isHidden());
        QMetaObject::invokeMethod(timer, "timeout");
        QVERIFY(lit->isHidden());
        QMetaObject::invokeMethod(timer, "timeout");
        QVERIFY(!lit->isHidden());
    }

    // The window's own buttons and menu reach the handlers: Open, Start and its poll, Stop; Exit
    // closes the device.
    void controlsReachTheHandlers()
    {
        Rig rig;
        QString asked;
        rig.find<md::CommonDialog>("CMDialog1")->setChooser([&](QFileDialog& d) {
            asked = d.windowTitle() + " | " + d.nameFilters().join(' ');
            return std::optional<QString>("/m/a.mid");
        });
        rig.find<QAction>("mnuFileOpen")->trigger();
        QCOMPARE(asked, QStringLiteral("Open an MCI File | MIDI Files (*.mid,*.rmi) (*.mid *.rmi)"));
        rig.log->clear();
        QTest::mouseClick(rig.find<QPushButton>("btnStart"), Qt::LeftButton);
        QTRY_COMPARE(*rig.log, (FakeDevice::Log{"prev", "play"}));
        QTest::mouseClick(rig.find<QPushButton>("btnStop"), Qt::LeftButton);
        QCOMPARE(*rig.log, (FakeDevice::Log{"prev", "play", "stop", "prev"}));
        rig.find<QAction>("mnuFileExit")->trigger();
        QTRY_VERIFY(rig.window.isNull());
        QCOMPARE(rig.log->back(), QStringLiteral("close"));
    }

    void linksOpenTheirPages()
    {
        Rig rig;
        QVERIFY(rig.shown());
        auto* image1 = rig.find<QLabel>("Image1");
        auto* image2 = rig.find<QLabel>("Image2");
        QTest::mouseClick(image1, Qt::LeftButton);
        // A screen reader's press opens as a click does.
        QAccessible::queryAccessibleInterface(image2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        const auto& r = rig.shell.requests;
        QVERIFY(r.size() == 2 && r[0].file == links::kFirstAddress && r[1].file == links::kSecondAddress);
        QVERIFY(r[0].operation == "Open" && r[0].directory == QCoreApplication::applicationDirPath());
    }

    // The desktop's browser gets the address as one argument, never through a shell.
    void addressGoesToXdgOpen()
    {
        test::Files bin;
        const QString fake = bin.write("xdg-open", "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > \"$0.args\"\n");
        QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", bin.dir.path().toLocal8Bit() + ":" + qgetenv("PATH"));
        links::DesktopShellOpener().shellExecute({nullptr, "Open", "https://example.org/a b;$(x)", "", bin.dir.path(), 1});
        const auto args = [&] { QFile f(bin.dir.filePath("xdg-open.args")); return f.open(QIODevice::ReadOnly) ? f.readAll() : ""; };
        QTRY_COMPARE(args(), QByteArray("1|https://example.org/a b;$(x)|"));
    }

    // A SoundFont dropped is taken and said in the tooltip; what the device refuses is said
    // in the box, the SoundFont kept; the next good drop shows the box as it was.
    void dropsASoundFont()
    {
        QPointer window = new frmMidiPlayer(std::make_unique<md::SynthDevice>(test::offline()), assets::registerBundledFonts());
        auto* label = window->findChild<QLabel*>("lblFileName");
        const auto drop = [&](const QString& path) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(9, 9), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QDropEvent dropped(QPointF(9, 9), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &enter);
            QCoreApplication::sendEvent(window, &dropped);
            return enter.isAccepted() && dropped.isAccepted();
        };
        const QString fifth = MELLOWDECK_TEST_SOUNDFONT_FIFTH;
        QVERIFY(drop(fifth));
        QCOMPARE(label->text(), QStringLiteral("[none]"));
        QCOMPARE(label->toolTip(), "SoundFont: " + fifth);
        window->findChild<md::CommonDialog*>("CMDialog1")->setChooser([](QFileDialog&) { return std::optional<QString>("/gone.mid"); });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^\\[cannot open\\] /gone.mid"));
        window->findChild<QAction*>("mnuFileOpen")->trigger();   // a good drop leaves the reason it did not open
        const QString why = label->toolTip();
        QVERIFY(drop(fifth) && label->text() == "[cannot open] /gone.mid" && label->toolTip() == why);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^\\[cannot open\\] /missing.sf2: .*no such file"));
        QVERIFY(!drop("/missing.sf2"));
        QCOMPARE(label->text(), QStringLiteral("[cannot open] /missing.sf2"));
        QVERIFY(label->toolTip().contains("no such file"));
        QCOMPARE(window->findChild<md::MultimediaControl*>("MMControl1")->soundFont(), fifth);
        QVERIFY(drop(fifth) && label->text() == "[cannot open] /gone.mid");
        delete window.data();
    }

    // What a screen reader is told: the push buttons by name; the links named for their sites,
    // offering a press; the box by its label, with the whole path; the lit caption once.
    void toldToAScreenReader()
    {
        Rig rig;
        const QString path = "/music/" + QString(60, 'x') + "/piece.mid";
        rig.open(path);
        QList<QAccessibleInterface*> all{QAccessible::queryAccessibleInterface(rig.window)};
        for (int i = 0; i < all.size(); ++i)
            for (int n = 0; n < all[i]->childCount(); ++n)
                all.insert(i + 1 + n, all[i]->child(n));   // in reading order
        QStringList pushes, links, labelled;
        const QString press = QAccessibleActionInterface::pressAction();
        int captions = 0;
        for (QAccessibleInterface* a : all) {
            const QString name = a->text(QAccessible::Name);
            if (a->role() == QAccessible::Button)
                pushes << name;
            else if (a->role() == QAccessible::Link && a->actionInterface()->actionNames().contains(press))
                links << name.section(' ', -1);
            captions += name == "MIDI SYNTH.";
            for (const auto& [label, relation] : a->relations(QAccessible::Label))
                labelled << label->text(QAccessible::Name) + " " + name;
        }
        QCOMPARE(pushes.join(' '), QStringLiteral("Prev Next Play Pause Back Step Stop Record Eject Start Stop"));
        QCOMPARE(links.join(' '), QStringLiteral("www.fluidsynth.org en.wikipedia.org"));
        QCOMPARE(labelled, QStringList{"FileName: " + path});
        QCOMPARE(captions, 1);   // the blinking copy is not read out as well
    }

    // Tab goes through the strip's enabled buttons and on to the pictures, the arrows go round the
    // strip, Enter and Space press.
    void keyboardReachesEveryControl()
    {
        Rig rig;
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.window));
        rig.open("/m/a.mid");
        // A key pressed where the focus is; where the focus is then.
        const auto key = [](Qt::Key k) {
            QTest::keyClick(QApplication::focusWidget(), k);
            return QApplication::focusWidget()->objectName();
        };
        QStringList order;
        for (int i = 0; i < 11; ++i)
            order << key(Qt::Key_Tab);
        QCOMPARE(order, QString("Prev Next Play Back Step chkLoopSounds btnStart btnStop Image2 Image1 Prev").split(' '));
        QCOMPARE(key(Qt::Key_Backtab), QStringLiteral("Image1"));
        key(Qt::Key_Space);
        QCOMPARE(rig.shell.requests.size(), 1);
        rig.find<md::MultimediaControl>("MMControl1")->button(md::MultimediaControl::Prev)->setFocus();
        QCOMPARE(key(Qt::Key_Left), QStringLiteral("Step"));   // round, over the disabled ones
        key(Qt::Key_Right);
        QCOMPARE(key(Qt::Key_Right), QStringLiteral("Next"));
        rig.log->clear();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(*rig.log, (FakeDevice::Log{"next"}));
        key(Qt::Key_Right);
        key(Qt::Key_Space);   // Play; the poll stops and plays
        QTRY_COMPARE(*rig.log, (FakeDevice::Log{"next", "play", "prev", "play"}));
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Pause"));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
