#include "app/si_task_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/ui_dialogs.h"
#include "i18n/language_startup.h"
#include "i18n/si_custom_lang.h"

namespace mq {

void TsiTaskDialog::Execute(QWidget* owner, UiDialogs& dialogs) {
  QDialog dlg(owner);
  dlg.setObjectName(QStringLiteral("siTaskDialog1"));
  dlg.setWindowTitle(Caption);
  auto* layout = new QVBoxLayout(&dlg);
  auto* head = new QHBoxLayout;
  auto* icon = new QLabel(&dlg);
  icon->setPixmap(dlg.style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  head->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  // Every text here may come from the translation file, which any member of
  // the data folder's group may write: shown as it stands, never as markup.
  auto* title = new QLabel(Title, &dlg);
  title->setTextFormat(Qt::PlainText);
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  title->setFont(big);
  title->setStyleSheet(QStringLiteral("color: #1F3F8F"));
  texts->addWidget(title);
  auto* content = new QLabel(Text, &dlg);
  content->setTextFormat(Qt::PlainText);
  content->setWordWrap(false);
  texts->addWidget(content);
  head->addLayout(texts, 1);
  layout->addLayout(head);

  auto* expanded = new QLabel(ExpandedText, &dlg);
  expanded->setTextFormat(Qt::PlainText);
  expanded->setObjectName(QString::fromLatin1(kExpandedLabel));
  expanded->setWordWrap(true);
  expanded->setVisible(false);

  auto* bottom = new QHBoxLayout;
  auto* expand = new QPushButton(ExpandButtonCaption, &dlg);
  expand->setObjectName(QString::fromLatin1(kExpandButton));
  expand->setCheckable(true);
  expand->setFlat(true);
  QObject::connect(expand, &QPushButton::toggled, &dlg, [expanded, &dlg](bool on) {
    expanded->setVisible(on);
    dlg.adjustSize();
  });
  bottom->addWidget(expand);
  bottom->addStretch(1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dlg);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  bottom->addWidget(buttons);
  layout->addLayout(bottom);
  layout->addWidget(expanded);

  // Relabel the buttons and labels from the dialog captions (active language only).
  if (siLang != nullptr) {
    QList<QWidget*> children;
    std::vector<std::string> childTexts;
    for (auto* b : dlg.findChildren<QAbstractButton*>()) {
      children << b;
      childTexts.push_back(b->text().toStdString());
    }
    for (auto* l : dlg.findChildren<QLabel*>()) {
      if (l->text().isEmpty()) continue;
      children << l;
      childTexts.push_back(l->text().toStdString());
    }
    const auto relabel = i18n::TLanguageStartup::RelabelDialogTexts(*siLang, childTexts);
    for (qsizetype i = 0; i < children.size(); ++i) {
      if (!relabel[static_cast<std::size_t>(i)]) continue;
      const QString t = QString::fromStdString(*relabel[static_cast<std::size_t>(i)]);
      if (auto* b = qobject_cast<QAbstractButton*>(children[i]))
        b->setText(t);
      else if (auto* l = qobject_cast<QLabel*>(children[i]))
        l->setText(t);
    }
  }
  dialogs.Exec(dlg);
}

}  // namespace mq
