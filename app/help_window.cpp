#include "app/help_window.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace mq {

THelpWindow::THelpWindow(QWidget* owner) : QWidget(owner, Qt::Window), browser_(new QTextBrowser(this)) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("MqTool Help"));
  browser_->setObjectName(QStringLiteral("HelpBrowser"));
  browser_->setOpenExternalLinks(true);
  browser_->setOpenLinks(true);
  browser_->setSearchPaths({QStringLiteral(":/guide")});
  auto* bar = new QHBoxLayout;
  auto* back = new QPushButton(QStringLiteral("<"), this);
  auto* forward = new QPushButton(QStringLiteral(">"), this);
  auto* home = new QPushButton(QStringLiteral("Contents"), this);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(home, &QPushButton::clicked, this, [this] { browser_->setSource(QUrl(QString::fromLatin1(kContents))); });
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
  bar->addWidget(back);
  bar->addWidget(forward);
  bar->addWidget(home);
  bar->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(browser_, 1);
  resize(760, 640);
}

void THelpWindow::ShowContents() {
  browser_->setSource(QUrl(QString::fromLatin1(kContents)));
  show();
  raise();
  activateWindow();
}

}  // namespace mq
