#include "log/LongOperationForm.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

LongOperationForm* LongOperationForm::instance_ = nullptr;

namespace {
constexpr int kClientWidth = 444;
constexpr int kBarHeight = 7;
constexpr int kButtonHeight = 25;
} // namespace

LongOperationForm* LongOperationForm::Create()
{
    if (instance_ == nullptr)
        instance_ = new LongOperationForm();
    return instance_;
}

LongOperationForm::LongOperationForm() : QWidget(nullptr, Qt::Tool)
{
    setObjectName("LongOperationForm");
    setWindowTitle(QString::fromUtf8("Выполняется операция..."));
    QFont font("MS Sans Serif");
    font.setPixelSize(10);
    setFont(font);
    setAutoFillBackground(true);
    // While it is shown, no other window of the program takes input, so that
    // a second command cannot start inside the running one.
    setWindowModality(Qt::ApplicationModal);

    txtText = new QLabel(this);
    txtText->setObjectName("txtText");
    txtText->move(-1, 2);
    txtText->setAttribute(Qt::WA_TranslucentBackground);

    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName("pbProgress");
    pbProgress->setGeometry(0, 0, 441, kBarHeight);
    pbProgress->setRange(0, 100);
    pbProgress->setTextVisible(false);
    pbProgress->hide();

    btnAbort = new QPushButton(QString::fromUtf8("Прервать"), this);
    btnAbort->setObjectName("btnAbort");
    btnAbort->setGeometry(185, 0, 75, kButtonHeight);
    btnAbort->hide();
    connect(btnAbort, &QPushButton::clicked, this, [this] { btnAbortClick(); });

    resize(kClientWidth, 2 + 2);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

LongOperationForm::~LongOperationForm()
{
    if (instance_ == this)
        instance_ = nullptr;
}

void LongOperationForm::Release()
{
    if (--references_ > 0)
        return;
    hide();
    delete this;
}

void LongOperationForm::SetText(const QString& text)
{
    txtText->setText(text);
    txtText->adjustSize();
    UpdateLayout();
}

void LongOperationForm::SetAbortable(bool abortable)
{
    abortable_ = abortable;
    SetAborted(false);
    UpdateLayout();
}

void LongOperationForm::SetAborted(bool aborted)
{
    if (aborted_ == aborted)
        return;
    aborted_ = aborted;
    UpdateLayout();
}

void LongOperationForm::SetProgress(int progress)
{
    if (progress_ == progress)
        return;
    progress_ = progress;
    UpdateLayout();
}

void LongOperationForm::UpdateLayout()
{
    const bool hasText = !txtText->text().isEmpty();
    if (!hasText) {
        SetProgress(0);
        if (!isVisible())
            return;
    }
    int y = 2;
    txtText->setVisible(hasText);
    if (hasText) {
        txtText->move(-1, 2);
        y = 2 + txtText->height() + 2;
    }
    pbProgress->setVisible(progress_ != 0);
    if (progress_ != 0) {
        pbProgress->move(0, y);
        pbProgress->setValue(progress_);
        y += kBarHeight + 2;
    }
    btnAbort->setVisible(abortable_);
    if (abortable_) {
        btnAbort->move(185, y);
        y += kButtonHeight + 2;
    }
    setFixedSize(kClientWidth, y + 2);

    if (!isVisible() && hasText)
        show();
    else if (isVisible() && !hasText)
        hide();
    if (isVisible())
        raise();
    QCoreApplication::processEvents();
}

// ---- QtOperation -----------------------------------------------------------

QtOperation::QtOperation()
{
    if (LongOperationForm* window = LongOperationForm::Instance())
        window->AddRef();
}

QtOperation::~QtOperation()
{
    if (LongOperationForm* window = LongOperationForm::Instance())
        window->Release();
}

LongOperationForm* QtOperation::Window()
{
    if (LongOperationForm* window = LongOperationForm::Instance())
        return window;
    active_ = 1;
    return LongOperationForm::Create();
}

void QtOperation::ShowText(const std::string& text) { Window()->SetText(QString::fromStdString(text)); }

void QtOperation::End()
{
    if (active_ > 0)
        --active_;
    LongOperationForm* window = LongOperationForm::Instance();
    if (window != nullptr && active_ == 0)
        window->Release();
}

void QtOperation::ApplyAbortable(bool abortable) { Window()->SetAbortable(abortable); }

bool QtOperation::TakeAborted()
{
    LongOperationForm* window = Window();
    const bool aborted = window->Aborted();
    if (aborted)
        window->SetAborted(false);
    return aborted;
}
