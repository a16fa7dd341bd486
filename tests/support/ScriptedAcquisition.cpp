// The scripted acquisition library for tests.
#include "support/ScriptedAcquisition.h"

#include <QBuffer>
#include <QDialog>
#include <QFile>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QPushButton>
#include <QTimer>

namespace lumenvale::test {

QByteArray ScriptedAcquisition::BmpBytes(const QImage& picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    writer.write(picture.convertToFormat(QImage::Format_RGB888));
    return bytes;
}

QImage ScriptedAcquisition::DefaultPicture() {
    QImage picture(640, 480, QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
        }
    }
    return picture;
}

ScriptedAcquisition::ScriptedAcquisition() : defaultFrame(BmpBytes(DefaultPicture())) {}

std::vector<std::string> ScriptedAcquisition::fileNames() const {
    std::vector<std::string> names;
    for (const auto& call : calls) {
        names.push_back(call.fileName);
    }
    return names;
}

bool ScriptedAcquisition::writeFrame(const std::string& fileName, const QByteArray& frame) const {
    const std::filesystem::path path =
        directory.empty() ? std::filesystem::path(fileName) : directory / fileName;
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    const QByteArray& bytes = frame.isEmpty() ? defaultFrame : frame;
    return file.write(bytes) == bytes.size() && file.flush();
}

std::int32_t ScriptedAcquisition::TWAIN_AcquireToFilename(QWidget* parent,
                                                          const std::string& fileName) {
    Step step = fallback;
    if (!script.empty()) {
        step = std::move(script.front());
        script.pop_front();
    }
    Call call{parent, fileName, step.mode, step.result, false, false};

    if (step.mode == Mode::ReturnAtOnce) {
        if (step.result == AcquireOk) {
            call.wroteFile = writeFrame(fileName, step.frame);
            if (!call.wroteFile) {
                call.result = AcquireWriteFailed;
            }
        }
        calls.push_back(call);
        return call.result;
    }

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("ScriptedAcquisitionDialog"));
    dialog.setWindowTitle(QStringLiteral("Acquire"));
    dialog.setModal(true);
    auto* layout = new QHBoxLayout(&dialog);
    auto* acquire = new QPushButton(QStringLiteral("Acquire"), &dialog);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    acquire->setObjectName(QStringLiteral("Acquire"));
    cancel->setObjectName(QStringLiteral("Cancel"));
    layout->addWidget(acquire);
    layout->addWidget(cancel);
    // Without auto-default, a button taking the focus does not become the default: Return
    // presses exactly the button the step names.
    acquire->setAutoDefault(false);
    cancel->setAutoDefault(false);
    (step.mode == Mode::Cancel ? cancel : acquire)->setDefault(true);
    QObject::connect(acquire, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dialog, [&] {
        call.timedOut = true;
        dialog.reject();
    });
    watchdog.start(dialogTimeoutMs);
    if (step.whileOpen) {
        QTimer::singleShot(0, &dialog, [&] { step.whileOpen(dialog); });
    }

    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (!accepted) {
        call.result = AcquireCancelled;
    } else if (step.mode == Mode::Confirm) {
        call.wroteFile = writeFrame(fileName, step.frame);
        call.result = call.wroteFile ? AcquireOk : AcquireWriteFailed;
    }
    calls.push_back(call);
    return call.result;
}

std::int32_t ScriptedAcquisition::TWAIN_SelectImageSource(QWidget* /*parent*/) {
    ++selectCalls;
    return 0;
}

} // namespace lumenvale::test
