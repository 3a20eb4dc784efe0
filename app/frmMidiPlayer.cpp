#include "frmMidiPlayer.h"

#include "Assets.h"
#include "Backdrop.h"
#include "BusService.h"
#include "FileNameBox.h"
#include "FocusFrame.h"
#include "Handlers.h"
#include "Links.h"
#include "PictureLink.h"
#include "Pictures.h"
#include "PlayerControls.h"
#include "ShellOpen.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QLayout>
#include <QMimeData>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <future>

namespace {

// The layout is drawn up in twips, 15 to the pixel.
int px(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

QRect twips(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

// Colours are noted as 0x00BBGGRR: red sits in the low byte.
QColor bgr(quint32 value)
{
    return QColor(value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff);
}

void setColour(QWidget* w, QPalette::ColorRole role, const QColor& colour)
{
    QPalette pal = w->palette();
    pal.setColor(role, colour);
    w->setPalette(pal);
}

QLabel* caption(QWidget* parent, const char* name, const QString& text, const QFont& font,
                const QColor& colour, QPoint at)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(font);
    setColour(l, QPalette::WindowText, colour);
    l->move(at);
    l->adjustSize();   // sized to its text
    return l;
}

// A vertical rule from the top of the window down to `bottomTwips`, two pixels wide.
QWidget* rule(QWidget* parent, const char* name, int xTwips, int bottomTwips, quint32 colour)
{
    auto* w = new QWidget(parent);
    w->setObjectName(QLatin1String(name));
    w->setAutoFillBackground(true);
    setColour(w, QPalette::Window, bgr(colour));
    w->setGeometry(px(xTwips), 0, 2, px(bottomTwips));
    return w;
}

const QSize kClientSize(540, 173);
const QRect kImage1Box = twips(6165, 1200, 2055, 1200);
const QRect kImage2Box = twips(6150, 0, 2055, 1215);
const QRect kImage3Box = twips(0, -360, 3855, 2535);

// The artwork, decoded as far as it is shown: the stretched pictures at their boxes' size
// in device pixels, the background only where the client area covers it.
struct Artwork {
    QImage background, panel, linkUpper, linkLower, icon, hand;
};

Artwork decodeArtwork(qreal dpr)
{
    const auto shown = [dpr](const QRect& box) { return (QSizeF(box.size()) * dpr).toSize(); };
    Artwork a;
    a.background = assets::decodeClipped(assets::kBackground, QRect(QPoint(0, 0), kClientSize));
    a.panel = assets::decodeScaled(assets::kPanel, shown(kImage3Box));
    a.linkUpper = assets::decodeScaled(assets::kLinkUpper, shown(kImage2Box));
    a.linkLower = assets::decodeScaled(assets::kLinkLower, shown(kImage1Box));
    a.icon = QImage(assets::kIcon);
    a.hand = QImage(assets::kHandCursor);
    return a;
}

QPixmap atRatio(const QImage& image, qreal dpr)
{
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

void tmrFlash_Timer(QLabel& lblMidi)
{
    lblMidi.setHidden(!lblMidi.isHidden());
}

} // namespace

frmMidiPlayer::frmMidiPlayer(std::unique_ptr<md::Device> device, const QString& displayFont,
                             links::ShellOpener* shell, QWidget* parent)
    : QMainWindow(parent)
    , m_ownShell(shell ? nullptr : std::make_unique<links::DesktopShellOpener>())
    , m_shell(shell ? shell : m_ownShell.get())
{
    // Decoding the pictures takes longer than making every control: a worker does it
    // meanwhile, and they are put in place at the end.
    const qreal dpr = devicePixelRatioF();
    std::future<Artwork> artwork = std::async(std::launch::async, decodeArtwork, dpr);

    setObjectName(QStringLiteral("frmMidiPlayer"));
    setWindowTitle(QStringLiteral(":: KESTRAVOX :: Mellowdeck :: Release-I ::"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAcceptDrops(true);

    auto* client = new Backdrop(this);
    client->setFixedSize(kClientSize);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    QFont ui(assets::uiFontFamily());
    ui.setPointSizeF(8.25);
    QFont uiBold = ui;
    uiBold.setBold(true);
    QFont display(displayFont);
    display.setPointSizeF(14.25);
    display.setBold(true);

    // Built from the back to the front, so each control lies over those before it.
    auto* image1 = new links::PictureLink(client);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setGeometry(kImage1Box);
    image1->setAccessibleName(links::kFirstName);
    image1->setAccessibleDescription(links::kFirstAddress);

    auto* image2 = new links::PictureLink(client);
    image2->setObjectName(QStringLiteral("Image2"));
    image2->setGeometry(kImage2Box);
    image2->setAccessibleName(links::kSecondName);
    image2->setAccessibleDescription(links::kSecondAddress);

    rule(client, "Line3", 6150, 2760, 0x00C0C0C0);
    rule(client, "Line4", 6120, 2760, 0x00808080);

    auto* image3 = new QLabel(client);
    image3->setObjectName(QStringLiteral("Image3"));
    image3->setScaledContents(true);
    image3->setGeometry(kImage3Box);

    rule(client, "Line2", 3870, 2760, 0x00808080);
    rule(client, "Line1", 3885, 2760, 0x00C0C0C0);

    caption(client, "Label7", QStringLiteral("AVI VIDEO"), display, bgr(0x00404040), {px(3960), px(1560)});
    caption(client, "lblCD", QStringLiteral("CD AUDIO"), display, bgr(0x00404040), {px(3960), px(1080)});
    caption(client, "Label5", QStringLiteral("WAV AUDIO"), display, bgr(0x00404040), {px(3960), px(600)});
    caption(client, "Label4", QStringLiteral("MIDI SYNTH."), display, bgr(0x00404040), {px(3960), px(120)});
    QLabel* lblMidi = caption(client, "lblMidi", QStringLiteral("MIDI SYNTH."), display,
                              bgr(0x00C0C0C0), {px(4004), px(120)});
    // The lit copy comes and goes; the dark one under it is always there, so a screen
    // reader is told of that one alone.
    client->hideFromScreenReaders(lblMidi);

    auto* label1 = new QLabel(client);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setAutoFillBackground(true);
    setColour(label1, QPalette::Window, bgr(0x00000000));
    label1->setGeometry(twips(0, 2160, 3855, 495));

    auto* lblFileName = new FileNameBox(QStringLiteral("[none]"), client);
    lblFileName->setObjectName(QStringLiteral("lblFileName"));
    lblFileName->setFont(ui);
    lblFileName->setAutoFillBackground(true);
    setColour(lblFileName, QPalette::Window, bgr(0x00FFFFFF));
    setColour(lblFileName, QPalette::WindowText, Qt::black);
    lblFileName->setFrameStyle(QFrame::Box | QFrame::Plain);
    lblFileName->setLineWidth(1);
    lblFileName->setGeometry(twips(840, 1080, 2925, 255));

    caption(client, "Label3", QStringLiteral("FileName:"), uiBold, bgr(0x000000FF), {px(0), px(1080)})
        ->setBuddy(lblFileName);   // announced as the box's label

    auto* mmControl1 = new md::MultimediaControl(std::move(device), client);
    mmControl1->setObjectName(QStringLiteral("MMControl1"));
    mmControl1->setGeometry(twips(120, 2160, 3540, 375));

    auto* chkLoopSounds = new QCheckBox(QStringLiteral("Loop Sounds"), client);
    chkLoopSounds->setObjectName(QStringLiteral("chkLoopSounds"));
    chkLoopSounds->setFont(uiBold);
    // A check box paints its background in the button role; the strip is the window's.
    chkLoopSounds->setBackgroundRole(QPalette::Window);
    chkLoopSounds->setAutoFillBackground(true);
    setColour(chkLoopSounds, QPalette::Window, bgr(0x00000000));
    setColour(chkLoopSounds, QPalette::WindowText, bgr(0x00FFFFFF));
    chkLoopSounds->setGeometry(twips(20, 0, 3825, 315));

    auto* btnStart = new QPushButton(client);
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnStart->setEnabled(false);
    btnStart->setGeometry(twips(1320, 120, 615, 435));
    // The two buttons carry no text; these tell them apart on hover and to a screen reader.
    btnStart->setToolTip(QStringLiteral("Start"));
    btnStart->setAccessibleName(QStringLiteral("Start"));

    auto* btnStop = new QPushButton(client);
    btnStop->setObjectName(QStringLiteral("btnStop"));
    btnStop->setEnabled(false);
    btnStop->setGeometry(twips(1920, 120, 375, 435));
    btnStop->setToolTip(QStringLiteral("Stop"));
    btnStop->setAccessibleName(QStringLiteral("Stop"));

    // The control, its buttons, then the rest.
    setTabOrder(mmControl1->button(md::MultimediaControl::Eject), chkLoopSounds);
    setTabOrder(chkLoopSounds, btnStart);
    setTabOrder(btnStart, btnStop);
    setTabOrder(btnStop, image2);
    setTabOrder(image2, image1);
    mmControl1->setFocus();
    auto* focusFrame = new FocusFrame(this);
    for (QWidget* w : client->findChildren<QWidget*>())
        if (w->focusPolicy() != Qt::NoFocus && w != mmControl1)
            focusFrame->watch(w);

    auto* cmDialog1 = new md::CommonDialog(this);
    cmDialog1->setObjectName(QStringLiteral("CMDialog1"));
    cmDialog1->setTitle(QStringLiteral("Open an MCI File"));
    cmDialog1->setFilter(QStringLiteral("MIDI Files (*.mid,*.rmi)|*.mid;*.rmi|"));
    cmDialog1->setDefaultExt(QStringLiteral(".mid;.rmi"));

    auto* tmrFlash = new QTimer(this);
    tmrFlash->setObjectName(QStringLiteral("tmrFlash"));
    tmrFlash->setInterval(1400);
    connect(tmrFlash, &QTimer::timeout, this, [lblMidi] { tmrFlash_Timer(*lblMidi); });
    tmrFlash->start();

    m_controls.reset(new md::PlayerControls{*mmControl1, *cmDialog1, *btnStart, *btnStop,
                                            *chkLoopSounds, *lblFileName});
    buildMenu();
    connectHandlers();

    const Artwork art = artwork.get();
    client->setPicture(QPixmap::fromImage(art.background));
    image3->setPixmap(atRatio(art.panel, dpr));
    image2->setPixmap(atRatio(art.linkUpper, dpr));
    image1->setPixmap(atRatio(art.linkLower, dpr));
    image2->setHand(art.hand);
    image1->setHand(art.hand);
    setWindowIcon(QIcon(QPixmap::fromImage(art.icon)));
}

frmMidiPlayer::~frmMidiPlayer() = default;

void frmMidiPlayer::buildMenu()
{
    QMenu* mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFile->addAction(QStringLiteral("&Open"))->setObjectName(QStringLiteral("mnuFileOpen"));
    mnuFile->addSeparator()->setObjectName(QStringLiteral("mnuSep"));
    mnuFile->addAction(QStringLiteral("E&xit"))->setObjectName(QStringLiteral("mnuFileExit"));
}

// Every event of the window and where it goes, in one place.
void frmMidiPlayer::connectHandlers()
{
    md::PlayerControls* c = m_controls.get();
    auto* mnuFileOpen = findChild<QAction*>(QStringLiteral("mnuFileOpen"));
    auto* mnuFileExit = findChild<QAction*>(QStringLiteral("mnuFileExit"));
    auto* image1 = findChild<links::PictureLink*>(QStringLiteral("Image1"));
    auto* image2 = findChild<links::PictureLink*>(QStringLiteral("Image2"));

    connect(mnuFileOpen, &QAction::triggered, this, [c] { md::mnuFileOpen_Click(*c); });
    connect(mnuFileExit, &QAction::triggered, this, &frmMidiPlayer::mnuFileExit_Click);
    connect(&c->btnStart, &QPushButton::clicked, this, [c] { md::btnStart_Click(*c); });
    connect(&c->btnStop, &QPushButton::clicked, this, [c] { md::btnStop_Click(*c); });
    connect(&c->MMControl1, &md::MultimediaControl::PlayClick, this,
            [c](int& cancel) { md::MMControl1_PlayClick(*c, cancel); });
    connect(&c->MMControl1, &md::MultimediaControl::StopClick, this,
            [c](int& cancel) { md::MMControl1_StopClick(*c, cancel); });
    connect(&c->MMControl1, &md::MultimediaControl::StatusUpdate, this,
            [c] { md::MMControl1_StatusUpdate(*c); });
    connect(&c->MMControl1, &md::MultimediaControl::OutputChanged, this,
            [c] { md::MMControl1_OutputChanged(*c); });
    connect(image1, &links::PictureLink::clicked, this, [this] { links::Image1_Click(this, *m_shell); });
    connect(image2, &links::PictureLink::clicked, this, [this] { links::Image2_Click(this, *m_shell); });
}

void frmMidiPlayer::offerMediaControls()
{
    mpris::offer(*m_controls, *this, *findChild<QAction*>(QStringLiteral("mnuFileExit")));
}

void frmMidiPlayer::mnuFileExit_Click()
{
    close();
}

namespace {

// The one local file a drag carries; empty for anything else.
QString droppedFile(const QMimeData* mime)
{
    const QList<QUrl> urls = mime ? mime->urls() : QList<QUrl>();
    return urls.size() == 1 && urls.front().isLocalFile() ? urls.front().toLocalFile() : QString();
}

} // namespace

void frmMidiPlayer::dragEnterEvent(QDragEnterEvent* event)
{
    // Any one file is taken, so that what is not a SoundFont is refused with a reason.
    event->setAccepted(!droppedFile(event->mimeData()).isEmpty());
}

void frmMidiPlayer::dropEvent(QDropEvent* event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return event->ignore();
    md::frmMidiPlayer_DragDrop(*m_controls, path);
    event->setAccepted(m_controls->MMControl1.error() == md::MultimediaControl::NoError);
}
