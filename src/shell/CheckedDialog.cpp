#include "shell/CheckedDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace sonitor {

CheckedDialog::CheckedDialog(QWidget* parent, const QString& title) : QDialog(parent) {
    setWindowTitle(title);
    QString name;
    for (QChar c : title)
        if (c.isLetterOrNumber()) name += c;
    setObjectName(name);
    layout_ = new QVBoxLayout(this);
}

QFormLayout* CheckedDialog::AddForm() {
    form_ = new QFormLayout;
    layout_->addLayout(form_);
    return form_;
}

QFormLayout* CheckedDialog::Form() {
    return form_ != nullptr ? form_ : AddForm();
}

QDialogButtonBox* CheckedDialog::AddButtons(const std::function<void()>& restoreDefaults, bool help) {
    auto* box = new QDialogButtonBox(this);
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setProperty("ctrlId", 1);
    ok->setDefault(true);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setProperty("ctrlId", 2);
    if (restoreDefaults) {
        QPushButton* restore =
            box->addButton(QStringLiteral("Restore Defaults"), QDialogButtonBox::ResetRole);
        restore->setObjectName(QStringLiteral("restoreDefaults"));
        connect(restore, &QPushButton::clicked, this, restoreDefaults);
    }
    if (help) {
        // There is no help file to open; the button keeps its place so the
        // dialog looks as users know it.
        QPushButton* helpButton = box->addButton(QStringLiteral("Help"), QDialogButtonBox::HelpRole);
        helpButton->setObjectName(QStringLiteral("help"));
        helpButton->setProperty("ctrlId", 9);
        helpButton->setEnabled(false);
    }
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout_->addWidget(box);
    return box;
}

void CheckedDialog::accept() {
    if (check && !check()) return;
    QDialog::accept();
}

QLineEdit* MakeNumberField(QWidget* parent, const char* name, int32_t value, bool allowNegative) {
    auto* edit = new QLineEdit(QString::number(value), parent);
    edit->setObjectName(QString::fromLatin1(name));
    const QString pattern = allowNegative ? QStringLiteral("-?\\d{0,9}") : QStringLiteral("\\d{0,9}");
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
    return edit;
}

QComboBox* MakeRateCombo(QWidget* parent, const char* name, std::span<const int32_t> rates, int32_t current) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    for (int32_t r : rates)
        combo->addItem(QString::number(r));
    combo->lineEdit()->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,9}")), combo));
    combo->setCurrentText(QString::number(current));
    return combo;
}

int32_t NumberFieldValue(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

int32_t NumberFieldValue(const QLineEdit* edit) {
    return NumberFieldValue(edit->text());
}

QRadioButton* MakeRadio(QWidget* parent, const char* text, const char* name) {
    auto* radio = new QRadioButton(QString::fromUtf8(text), parent);
    radio->setObjectName(QString::fromLatin1(name));
    return radio;
}

}  // namespace sonitor
