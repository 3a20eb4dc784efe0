// Every picture and font the window uses loads, in the format and size the
// layout was drawn for, and the captions still fit their boxes.
#include "Assets.h"
#include "Pictures.h"

#include <QColor>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QtTest>

namespace {

QImage readChecked(const QString& path, const QByteArray& format, QSize size)
{
    QImageReader reader(path);
    const QByteArray actual = reader.format();
    const QImage img = reader.read();
    if (img.isNull())
        qWarning("%s: %s", qPrintable(path), qPrintable(reader.errorString()));
    [&] {
        QVERIFY2(!img.isNull(), qPrintable(path));
        QCOMPARE(actual, format);
        QCOMPARE(img.size(), size);
    }();
    return img;
}

int distinctColours(const QImage& img)
{
    QSet<QRgb> seen;
    const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb c = argb.pixel(x, y);
            if (qAlpha(c) != 0)
                seen.insert(c);
        }
    return int(seen.size());
}

// The mean difference per colour channel between two images of one size, 0 to 255.
double meanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

double luminance(QRgb c)
{
    return 0.2126 * qRed(c) + 0.7152 * qGreen(c) + 0.0722 * qBlue(c);
}

} // namespace

class TestAssets : public QObject {
    Q_OBJECT
private slots:
    void picturesHaveTheirFormatAndSize_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("size");
        QTest::newRow("background") << assets::kBackground << QByteArray("jpeg") << QSize(572, 943);
        QTest::newRow("panel") << assets::kPanel << QByteArray("jpeg") << QSize(640, 480);
        QTest::newRow("link-upper") << assets::kLinkUpper << QByteArray("gif") << QSize(141, 83);
        QTest::newRow("link-lower") << assets::kLinkLower << QByteArray("jpeg") << QSize(640, 480);
        QTest::newRow("icon") << assets::kIcon << QByteArray("ico") << QSize(32, 32);
        QTest::newRow("hand") << assets::kHandCursor << QByteArray("png") << QSize(32, 32);
    }
    void picturesHaveTheirFormatAndSize()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, format);
        QFETCH(QSize, size);
        readChecked(path, format, size);
    }

    void iconIsA16ColourIco()
    {
        // Format and size are checked above; here what the pixels hold.
        const QImage img(assets::kIcon);
        QVERIFY(distinctColours(img) <= 16);
        QVERIFY(img.hasAlphaChannel());
        QCOMPARE(qAlpha(img.pixel(0, img.height() - 1)), 0); // corners see through
        QCOMPARE(qAlpha(img.pixel(img.width() / 2, img.height() / 2)), 255);
    }

    void handCursorIsIndexedWithHotSpotOnTheFingertip()
    {
        const QImage img(assets::kHandCursor);
        QCOMPARE(img.format(), QImage::Format_Indexed8);
        QVERIFY(img.colorCount() <= 16);
        QVERIFY(img.hasAlphaChannel());
        const QPoint hs = assets::kHandHotSpot;
        QVERIFY(img.rect().contains(hs));
        QCOMPARE(qAlpha(img.pixel(hs)), 255);
        // the hot spot is the topmost opaque pixel: nothing above it is drawn
        for (int y = 0; y < hs.y(); ++y)
            for (int x = 0; x < img.width(); ++x)
                QCOMPARE(qAlpha(img.pixel(x, y)), 0);
    }

    // The window decodes only what it shows; that must look like the whole picture
    // decoded and then stretched or cut.
    void decodedAsShownMatchesTheWholePicture_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("panel, JPEG at a half and a bit") << assets::kPanel << QSize(257, 169);
        QTest::newRow("link, JPEG at a quarter and a bit") << assets::kLinkLower << QSize(137, 80);
        QTest::newRow("link, GIF") << assets::kLinkUpper << QSize(137, 81);
        QTest::newRow("panel at twice its box") << assets::kPanel << QSize(514, 338);
    }
    void decodedAsShownMatchesTheWholePicture()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QImage shown = assets::decodeScaled(path, size);
        QCOMPARE(shown.size(), size);
        const QImage whole =
            QImage(path).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double difference = meanDifference(shown, whole);
        QVERIFY2(difference < 4.0, qPrintable(QString::number(difference)));
    }

    void clippedDecodeIsTheSamePixels()
    {
        const QImage whole(assets::kBackground);
        const QImage top = assets::decodeClipped(assets::kBackground, QRect(0, 0, 540, 173));
        QCOMPARE(top.size(), QSize(540, 173));
        QCOMPARE(meanDifference(top, whole.copy(0, 0, 540, 173)), 0.0);
        // A clip that runs past the picture gives what there is of it.
        const QImage corner = assets::decodeClipped(assets::kBackground, QRect(500, 900, 100, 100));
        QCOMPARE(corner.size(), QSize(72, 43));
        QVERIFY(assets::decodeClipped(assets::kBackground, QRect(600, 0, 10, 10)).isNull());
        QVERIFY(assets::decodeScaled(QStringLiteral(":/images/absent.jpg"), QSize(8, 8)).isNull());
    }

    void captionsReadOnTheBackground()
    {
        // The device captions are drawn straight on the background's middle
        // column: lit ones in #C0C0C0, unlit ones in #404040, which must stay
        // faint but visible.
        const QImage bg(assets::kBackground);
        QVERIFY(!bg.isNull());
        double sum = 0;
        int n = 0;
        for (int y = 8; y < 128; y += 2)
            for (int x = 264; x < 400; x += 2) {
                sum += luminance(bg.pixel(x, y));
                ++n;
            }
        const double mean = sum / n;
        const double unlit = luminance(qRgb(0x40, 0x40, 0x40));
        const double lit = luminance(qRgb(0xC0, 0xC0, 0xC0));
        QVERIFY2(unlit - mean >= 24, qPrintable(QString::number(mean)));
        QVERIFY2(lit - mean >= 120, qPrintable(QString::number(mean)));
    }

    void bundledFontsRegisterAndFit()
    {
        const QString display = assets::registerBundledFonts();
        QCOMPARE(display, QStringLiteral("Play"));
        QCOMPARE(assets::registerBundledFonts(), display); // stable on repeat
        QCOMPARE(assets::uiFontFamily(), QStringLiteral("Liberation Sans Narrow"));

        QFont caption(display);
        caption.setPointSizeF(14.25);
        caption.setBold(true);
        QCOMPARE(QFontInfo(caption).family(), display);
        const QFontMetrics cm(caption);
        for (const char* text : {"MIDI SYNTH.", "WAV AUDIO", "CD AUDIO", "AVI VIDEO"}) {
            const QString s = QString::fromLatin1(text);
            QVERIFY2(cm.horizontalAdvance(s) <= 136, text);
            QVERIFY2(cm.tightBoundingRect(s).height() <= 19, text);
        }

        QFont ui(assets::uiFontFamily());
        ui.setPointSizeF(8.25);
        ui.setBold(true);
        QCOMPARE(QFontInfo(ui).family(), assets::uiFontFamily());
        // the check box's text must end before the Start button that overlaps it
        QVERIFY(QFontMetrics(ui).horizontalAdvance(QStringLiteral("Loop Sounds")) <= 64);
    }
};

QTEST_MAIN(TestAssets)
#include "tst_assets.moc"
