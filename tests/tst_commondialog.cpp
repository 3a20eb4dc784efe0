// The Open dialog: its settings, where it starts, what it lists and how it reports a cancel.

#include "CommonDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>

using md::CommonDialog;

namespace {

void touch(const QString& path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// The dialog as the player window sets it up.
void setUp(CommonDialog& d)
{
    d.setTitle(QStringLiteral("Open an MCI File"));
    d.setFilter(QStringLiteral("MIDI Files (*.mid,*.rmi)|*.mid;*.rmi|"));
    d.setDefaultExt(QStringLiteral(".mid;.rmi"));
}

} // namespace

class tst_CommonDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void filterTranslation_data();
    void filterTranslation();
    void listsMidiFilesWhateverTheirCase();
    void startsInTheMusicFolderElseHome();
    void offersTheLastChoiceAgain();
    void cancelIsAnError();

private:
    QTemporaryDir m_home;
};

void tst_CommonDialog::initTestCase()
{
    // A home of our own, so the first-time folder does not depend on this machine.
    QVERIFY(m_home.isValid());
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral(".config"))));
}

void tst_CommonDialog::filterTranslation_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("the player's filter")
        << "MIDI Files (*.mid,*.rmi)|*.mid;*.rmi|"
        << QStringList{"MIDI Files (*.mid,*.rmi) (*.mid *.rmi)"};
    QTest::newRow("two entries, no closing bar")
        << "Songs|*.mid|All Files|*.*"
        << QStringList{"Songs (*.mid)", "All Files (*.*)"};
    QTest::newRow("empty") << "" << QStringList{};
}

void tst_CommonDialog::filterTranslation()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(CommonDialog::qtNameFilters(filter), expected);
}

void tst_CommonDialog::listsMidiFilesWhateverTheirCase()
{
    QTemporaryDir dir;
    const QStringList midi{"a.mid", "B.MID", "c.Rmi", "d.RMI"};
    for (const QString& name : midi + QStringList{"notes.txt", "e.midi", "mid"})
        touch(dir.filePath(name));

    CommonDialog d;
    setUp(d);
    QFileDialog dialog;
    // Whatever the platform starts with, the player's dialog ignores letter case.
    dialog.setFilter(dialog.filter() | QDir::CaseSensitive);
    d.configure(dialog);
    dialog.setDirectory(dir.path());
    dialog.show();

    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    QVERIFY(view);
    const auto listed = [&] {
        QStringList names;
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < view->model()->rowCount(root); ++row) {
            const QModelIndex i = view->model()->index(row, 0, root);
            if (i.flags() & Qt::ItemIsEnabled)
                names << i.data().toString();
        }
        names.sort(Qt::CaseInsensitive);
        return names;
    };
    QTRY_COMPARE(listed(), midi);

    // The description reads as written, the patterns are not repeated after it.
    auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types);
    QCOMPARE(types->currentText(), QStringLiteral("MIDI Files (*.mid,*.rmi)"));
}

void tst_CommonDialog::startsInTheMusicFolderElseHome()
{
    CommonDialog d;
    setUp(d);
    QString startedIn;
    d.setChooser([&](QFileDialog& dialog) -> std::optional<QString> {
        startedIn = dialog.directory().absolutePath();
        return std::nullopt;
    });

    QDir(m_home.path()).rmdir(QStringLiteral("Music"));
    d.setAction(CommonDialog::ActionOpen);
    QCOMPARE(startedIn, QDir(m_home.path()).absolutePath());

    QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("Music")));
    d.setAction(CommonDialog::ActionOpen);
    QCOMPARE(startedIn, QDir(m_home.filePath(QStringLiteral("Music"))).absolutePath());
}

void tst_CommonDialog::offersTheLastChoiceAgain()
{
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.MID"));
    touch(song);

    CommonDialog d;
    setUp(d);
    d.setChooser([&](QFileDialog&) { return std::optional<QString>(song); });
    d.setAction(CommonDialog::ActionOpen);
    QCOMPARE(d.error(), int(CommonDialog::NoError));
    QCOMPARE(d.property("FileName").toString(), song);

    QString offeredDir;
    QStringList offered;
    d.setChooser([&](QFileDialog& dialog) -> std::optional<QString> {
        offeredDir = dialog.directory().absolutePath();
        offered = dialog.selectedFiles();
        return std::nullopt;
    });
    d.setProperty("Action", 1);
    QCOMPARE(offeredDir, QDir(dir.path()).absolutePath());
    QCOMPARE(offered, QStringList{song});
}

void tst_CommonDialog::cancelIsAnError()
{
    CommonDialog d;
    setUp(d);
    d.setFileName(QStringLiteral("/music/a.mid"));
    d.setChooser([](QFileDialog&) { return std::optional<QString>(); });
    d.setAction(CommonDialog::ActionOpen);
    QCOMPARE(d.error(), int(CommonDialog::CancelError));
    QCOMPARE(d.fileName(), QStringLiteral("/music/a.mid"));   // not emptied

    d.setChooser([](QFileDialog&) { return std::optional<QString>(QStringLiteral("/music/b.mid")); });
    d.setAction(CommonDialog::ActionOpen);
    QCOMPARE(d.error(), int(CommonDialog::NoError));
    QCOMPARE(d.fileName(), QStringLiteral("/music/b.mid"));

    d.setAction(2);   // only Open is offered
    QCOMPARE(d.error(), int(CommonDialog::UnsupportedAction));
}

QTEST_MAIN(tst_CommonDialog)
#include "tst_commondialog.moc"
