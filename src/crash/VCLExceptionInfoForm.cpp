#include "crash/VCLExceptionInfoForm.h"

#include "crash/CrashHandler.h"
#include "crash/ReportLines.h"
#include "crash/ReportText.h"
#include "widgets/BkList.h"
#include "widgets/ListHeader.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>

#include <cstdio>

namespace {

constexpr int kMinWidth = 525, kMinHeight = 240;
constexpr int kAddressDigits = 2 * static_cast<int>(sizeof(void*));

QString Hex(uint64_t value, int digits = kAddressDigits)
{
    return QString::number(value, 16).toUpper().rightJustified(digits, '0');
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString SymbolCell(const crash::StackFrame& frame)
{
    if (frame.symbol.empty())
        return {};
    QString cell = Text(frame.symbol) + " + " + Hex(frame.symbolOffset, 8);
    if (!frame.sourceFile.empty())
        cell += QString(" (%1:%2)").arg(Text(frame.sourceFile)).arg(frame.sourceLine);
    return cell;
}

} // namespace

QString ChooseTrapFile(QWidget* parent, const QString& folder)
{
    QFileDialog dialog(parent, "Сохранение информации об ошибке...", folder, "Trap files (*.trap)");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("trap");
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

TVCLExceptionInfoForm::TVCLExceptionInfoForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint)
{
    ChooseSaveFile = &ChooseTrapFile;
    CreateControls();
}

BkList* TVCLExceptionInfoForm::MakeList(QWidget* parent, const QStringList& captions, const std::vector<int>& widths,
                                        const char* name)
{
    QHeaderView* header = MakeListHeader(captions, widths, parent);
    header->setSectionResizeMode(QHeaderView::Interactive);
    auto* list = new BkList(parent);
    list->setObjectName(name);
    list->SetOptions({bkoColLines, bkoShowSelection, bkoShowBorder});
    list->SetItemHeight(16);
    list->SetBkColor(clWindow);
    list->SetGridColor(ColorRef(12615680));
    // Tabs never occur in the cells' texts; ';' does, in symbols.
    list->SetSectionDelimiters("\t");
    list->SetHeader(header);
    return list;
}

void TVCLExceptionInfoForm::CreateControls()
{
    setObjectName("VCLExceptionInfoForm");
    setWindowTitle("Ошибка программы...");
    setMinimumSize(kMinWidth, kMinHeight);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);

    auto* heading = new QLabel("Программа выполнила недопустимую операцию.", this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    column->addWidget(heading);

    auto* info = new QGroupBox("Информация об ошибке", this);
    auto* form = new QFormLayout(info);
    lblProgram = new QLabel(info);
    lblType = new QLabel(info);
    lblAddress = new QLabel(info);
    lblOperation = new QLabel(info);
    for (QLabel* label : {lblProgram, lblType, lblAddress, lblOperation})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow("Программа", lblProgram);
    form->addRow("Тип ошибки", lblType);
    form->addRow("Адрес", lblAddress);
    form->addRow("Операция", lblOperation);
    column->addWidget(info);

    QString note = "Информация об ошибке записана в общий лог-файл программы.\r\nПожалуйста предоставте этот файл а "
                   "так же описание действий, \r\nкоторые привели к ошибке, разработчику программного обеспечения";
    column->addWidget(new QLabel(note.remove('\r'), this));
    lblNoIgnore = new QLabel("Ошибка произошла вне команды программы: продолжить работу нельзя.", this);
    lblNoIgnore->setObjectName("lblNoIgnore");
    lblNoIgnore->setStyleSheet("color: #a00000");
    lblNoIgnore->hide();
    column->addWidget(lblNoIgnore);

    pnlDeveloper = new QWidget(this);
    pnlDeveloper->setObjectName("pnlDeveloper");
    auto* panel = new QVBoxLayout(pnlDeveloper);
    panel->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QLabel("Информация разработчику", pnlDeveloper);
    bar->setAutoFillBackground(true);
    bar->setStyleSheet("background: palette(highlight); color: palette(highlighted-text); padding: 2px");
    panel->addWidget(bar);
    auto* vertical = new QSplitter(Qt::Vertical, pnlDeveloper);
    listStack = MakeList(vertical, {"Адрес", "Модуль", "Секция", "Символ"}, {130, 110, 60, 400}, "listStack");
    listStack->SetOptions({bkoColLines, bkoShowSelection, bkoShowBorder, bkoForceSelection});
    auto* horizontal = new QSplitter(Qt::Horizontal, vertical);
    listCode = MakeList(horizontal, {"Адрес", "Код", "Ссылка"}, {130, 220, 200}, "listCode");
    listData = MakeList(horizontal, {"N", "Значение", "Дамп", "Текст"}, {24, 130, 330, 130}, "listData");
    vertical->addWidget(listStack);
    vertical->addWidget(horizontal);
    horizontal->addWidget(listCode);
    horizontal->addWidget(listData);
    panel->addWidget(vertical, 1);
    column->addWidget(pnlDeveloper, 1);
    listStack->OnClick = Delegate<void(CustomBkList*)>::Bind<&TVCLExceptionInfoForm::listStackClick>(this);

    auto* buttons = new QHBoxLayout();
    btnSave = new QPushButton("Сохранить информацию об ошибке в файле", this);
    btnEnd = new QPushButton("Прервать программу", this);
    btnIgnore = new QPushButton("Игнорировать ошибку", this);
    btnSave->setObjectName("btnSave");
    btnEnd->setObjectName("btnEnd");
    btnIgnore->setObjectName("btnIgnore");
    btnEnd->setDefault(true);
    buttons->addWidget(btnSave);
    buttons->addStretch(1);
    buttons->addWidget(btnEnd);
    buttons->addWidget(btnIgnore);
    column->addLayout(buttons);
    connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
    connect(btnEnd, &QPushButton::clicked, this, [this] { btnEndClick(); });
    connect(btnIgnore, &QPushButton::clicked, this, [this] { btnIgnoreClick(); });
}

void TVCLExceptionInfoForm::Fill(const crash::CrashReport& report, std::vector<std::string> text, bool canIgnore)
{
    frames_ = report.frames;
    text_ = std::move(text);
    canIgnore_ = canIgnore;
    answer_ = Choice::LeaveUnhandled;
    const QString program = Text(report.program);
    folder_ = QFileInfo(program).absolutePath();
    lblProgram->setText(QFileInfo(program).fileName());
    char name[96];
    crash::FormatExceptionName(report.request.code, name, sizeof name);
    lblType->setText(QString::fromLatin1(name));
    lblAddress->setText(Hex(report.request.state.registers[crash::kIp]));
    lblOperation->setText(Text(crash::OperationText(report.request)));
    lblNoIgnore->setVisible(!canIgnore);
    btnIgnore->setEnabled(canIgnore);

    QStringList rows;
    for (const crash::StackFrame& frame : frames_)
        rows.append(Hex(frame.address) + '\t' + Text(frame.moduleName) + '\t' + Text(frame.section) + '\t' +
                    SymbolCell(frame));
    listStack->SetItems(rows);
    const bool hasStack = !frames_.empty();
    pnlDeveloper->setVisible(hasStack);
    // Without a stack only the top part is shown, at a fixed size.
    if (hasStack) {
        setMinimumSize(kMinWidth, kMinHeight);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(std::max(width(), 760), std::max(height(), 560));
    } else {
        adjustSize();
        setFixedSize(std::max(sizeHint().width(), kMinWidth), std::max(sizeHint().height(), kMinHeight));
    }
    listStack->SetItemIndex(hasStack ? 0 : -1);
    listStackClick(nullptr);
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TVCLExceptionInfoForm::listStackClick(CustomBkList*)
{
    const int index = listStack->ItemIndex();
    QStringList code, words;
    if (index >= 0 && index < static_cast<int>(frames_.size())) {
        const crash::StackFrame& frame = frames_[static_cast<std::size_t>(index)];
        for (const crash::CodeLine& line : frame.code)
            code.append(Hex(line.address) + (line.current ? " >" : "") + '\t' + Text(line.code) + '\t' +
                        Text(line.reference));
        for (std::size_t i = 0; i < frame.stack.size(); ++i) {
            const crash::StackWord& word = frame.stack[i];
            QString dump, chars;
            if (word.bytesValid)
                for (unsigned char byte : word.bytes) {
                    dump += Hex(byte, 2) + ' ';
                    chars += byte < 32 || byte > 250 ? QChar('.') : QChar::fromLatin1(static_cast<char>(byte));
                }
            words.append(QString::number(i) + '\t' + Hex(word.value) + '\t' + dump + '\t' + chars);
        }
    }
    listCode->SetItems(code);
    listData->SetItems(words);
}

bool TVCLExceptionInfoForm::SaveReport(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const std::string& line : text_) {
        file.write(line.data(), static_cast<qint64>(line.size()));
        file.write("\n", 1);
    }
    return file.commit();
}

void TVCLExceptionInfoForm::btnSaveClick()
{
    const QString path = ChooseSaveFile ? ChooseSaveFile(this, folder_) : QString();
    if (!path.isEmpty())
        SaveReport(path);
}

void TVCLExceptionInfoForm::btnEndClick()
{
    answer_ = Choice::End;
    done(QDialog::Accepted);
}

void TVCLExceptionInfoForm::btnIgnoreClick()
{
    if (!canIgnore_)
        return;
    answer_ = Choice::Ignore;
    done(QDialog::Rejected);
}

void TVCLExceptionInfoForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        btnIgnoreClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TVCLExceptionInfoForm::reject()
{
    // Escape is taken by keyPressEvent; what comes here is the close box. It
    // is one of the window's two answers, never a third that lets the fault
    // kill the program: Ignore where the fault can be ignored, else End.
    answer_ = canIgnore_ ? Choice::Ignore : Choice::End;
    QDialog::reject();
}
