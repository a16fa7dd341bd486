// The Settings window.
#include "ui/Form3.h"

#include "acquisition/Acquisition.h"
#include "ui/DirectoryList.h"
#include "ui/TwipsPlacement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

namespace lumenvale {

namespace {

QFrame* horizontalLine(QWidget* window, const char* name, int x1, int x2, int y) {
    auto* line = place<QFrame>(window, name, x1, y, x2 - x1, 15);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    return line;
}

} // namespace

Form3::Form3(Settings& settings, Messages& messages, Acquisition& acquisition,
             const QPixmap& background, std::filesystem::path settingsFile, QWidget* parent)
    : QWidget(parent), editor_(settings, messages, std::move(settingsFile)),
      acquisition_(acquisition), background_(*this, background) {
    build();
    load();
}

void Form3::build() {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(px(2100), px(5430));

    Label2 = place<QLabel>(this, "Label2", 240, 120, 1575, 255);
    Label2->setText(QStringLiteral("De-interlace order"));
    Option1 = place<QRadioButton>(this, "Option1", 240, 600, 855, 255);
    Option1->setText(QStringLiteral("Order 1"));
    Option1->setChecked(true);
    Option2 = place<QRadioButton>(this, "Option2", 240, 1080, 855, 255);
    Option2->setText(QStringLiteral("Order 2"));
    Line1 = horizontalLine(this, "Line1", 120, 1920, 1440);
    Command5 = place<QPushButton>(this, "Command5", 120, 1680, 1815, 375);
    Command5->setText(QStringLiteral("Source"));
    Line2 = horizontalLine(this, "Line2", 120, 1920, 2280);
    Label1 = place<QLabel>(this, "Label1", 240, 2400, 855, 375);
    Label1->setText(QStringLiteral("Save Dir"));
    Dir1 = place<DirectoryList>(this, "Dir1", 360, 3000, 1455, 765);
    Line3 = horizontalLine(this, "Line3", 120, 1800, 3960);
    Check1 = place<QCheckBox>(this, "Check1", 240, 4200, 1575, 255);
    Check1->setText(QStringLiteral("Plain Windows"));
    Line4 = horizontalLine(this, "Line4", 120, 1800, 4680);
    Command1 = place<QPushButton>(this, "Command1", 240, 4800, 1575, 495);
    Command1->setText(QStringLiteral("OK"));

    // Labels take no focus, so the chain runs over the other controls in the window's order.
    setTabOrder(Command5, Option1);
    setTabOrder(Option1, Option2);
    setTabOrder(Option2, Dir1);
    setTabOrder(Dir1, Command1);
    setTabOrder(Command1, Check1);
}

void Form3::load() {
    const SettingsEditor::Opening opening = editor_.open();
    Dir1->setPath(opening.listPath);
    // Selecting and ticking from code below goes through setChecked, which does not count as
    // a click: nothing is stored that the user did not choose.
    (opening.selectedOption == 2 ? Option2 : Option1)->setChecked(true);
    if (opening.plainTicked) {
        Check1->setChecked(true);
        dropBackground();
    }

    connect(Option1, &QRadioButton::clicked, this, [this] { editor_.optionClicked(1); });
    connect(Option2, &QRadioButton::clicked, this, [this] { editor_.optionClicked(2); });
    connect(Check1, &QCheckBox::clicked, this,
            [this](bool ticked) { editor_.plainWindowsClicked(ticked); });
    connect(Dir1, &DirectoryList::pathChanged, this,
            [this](const QString& path) { editor_.pathChanged(path); });
    connect(Command5, &QPushButton::clicked, this,
            [this] { acquisition_.TWAIN_SelectImageSource(this); });
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);
}

void Form3::dropBackground() {
    background_.drop();
}

void Form3::closeEvent(QCloseEvent* event) {
    // Closing is never refused, and its steps run once however often the window is asked.
    event->accept();
    if (closed_) {
        return;
    }
    closed_ = true;
    const bool plain = editor_.close(Dir1->path());
    emit settingsSaved(editor_.saved());
    if (plain) {
        emit plainWindowsClosed();
    }
    emit closed();
}

} // namespace lumenvale
