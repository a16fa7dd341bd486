// The viewer window.
#include "ui/Form2.h"

#include "platform/Messages.h"
#include "ui/ProgramPictures.h"
#include "ui/ProgramState.h"
#include "ui/ProgramVersion.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include <utility>

namespace lumenvale {

namespace {

// The client area below the menu bar, and where the image sits in it, in pixels.
constexpr int ClientWidth = 663;
constexpr int ClientHeight = 500;
constexpr int ImageLeft = 8;
constexpr int ImageTop = 8;
constexpr int ImageBorder = 2;

template <typename Item> Item* named(Item* item, const char* name) {
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

} // namespace

Form2::Form2(ProgramState& program, Messages& messages, FileDialogs& dialogs,
             const QPixmap& background, const std::filesystem::path& settingsFile, QWidget* parent)
    : QMainWindow(parent), program_(program), messages_(messages), files_(dialogs, messages, *this),
      client_(new QWidget(this)), background_(*client_, background) {
    build();
    load(settingsFile);
}

void Form2::build() {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Lumenvale"));
    setWindowIcon(ProgramIcon());

    client_->setObjectName(QStringLiteral("Form2Client"));
    setCentralWidget(client_);

    // The image does not stretch: it takes the size of its picture plus the border, and a
    // picture larger than the client area is cut off at its edges.
    Image1 = named(new QLabel(client_), "Image1");
    Image1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Image1->setLineWidth(ImageBorder);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    showPicture(InitialViewerPicture());

    // Captions carry no access-key marks, as the window always had.
    File = named(menuBar()->addMenu(QStringLiteral("File")), "File");
    Open = named(File->addAction(QStringLiteral("Open")), "Open");
    Save = named(File->addAction(QStringLiteral("Save As")), "Save");
    Exit = named(File->addAction(QStringLiteral("Exit")), "Exit");
    SettingsCommand = named(menuBar()->addAction(QStringLiteral("Settings")), "Settings");
    Camera = named(menuBar()->addMenu(QStringLiteral("Camera")), "Camera");
    Control = named(Camera->addAction(QStringLiteral("Control")), "Control");
    LiveStack = named(Camera->addAction(QStringLiteral("Live stack")), "LiveStack");
    Video = named(Camera->addAction(QStringLiteral("Video")), "Video");
    About = named(menuBar()->addMenu(QStringLiteral("About")), "About");
    Version = named(About->addAction(QStringLiteral("Version")), "Version");

    connect(Open, &QAction::triggered, this, [this] { files_.Open(this); });
    connect(Save, &QAction::triggered, this, [this] { files_.Save(this); });
    connect(Exit, &QAction::triggered, this, &QWidget::close);
    connect(SettingsCommand, &QAction::triggered, this, &Form2::settingsRequested);
    connect(Control, &QAction::triggered, this, &Form2::showControl);
    connect(LiveStack, &QAction::triggered, this, &Form2::liveStackRequested);
    connect(Video, &QAction::triggered, this, &Form2::videoRequested);
    connect(Version, &QAction::triggered, this, &Form2::showVersion);

    resize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
}

void Form2::load(const std::filesystem::path& settingsFile) {
    program_.ControlShown = 0;
    program_.settings = LoadSettingsTellingProblems(settingsFile, messages_);
    // Only 2 means plain; any other value keeps the pictured windows.
    if (program_.settings.PlainWindows == 2) {
        dropBackground();
    }
}

void Form2::showPicture(const QImage& picture) {
    picture_ = picture;
    Image1->setPixmap(QPixmap::fromImage(picture));
    Image1->setGeometry(ImageLeft, ImageTop, picture.width() + 2 * ImageBorder,
                        picture.height() + 2 * ImageBorder);
}

QImage Form2::Picture() const {
    return picture_;
}

void Form2::dropBackground() {
    background_.drop();
}

void Form2::showControl() {
    // Once per run of the program, even if the Control window has since been minimised.
    if (program_.ControlShown != 0) {
        return;
    }
    program_.ControlShown = 1;
    emit controlRequested();
}

void Form2::showVersion() {
    messages_.MsgBox(ProgramVersionMessage(), QStringLiteral("About Lumenvale"));
}

void Form2::closeEvent(QCloseEvent* event) {
    // Never refused; the other windows are told once, however often this one is asked.
    event->accept();
    if (!closed_) {
        closed_ = true;
        emit closing();
    }
}

} // namespace lumenvale
