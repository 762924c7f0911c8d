// THelpWindow: the user guide, shown from the program's resources
// (qrc:/guide/index.html, its table of contents). Links between the guide's
// pages are followed inside the window; links to the web open in the
// system's browser.
//
// Threading: GUI thread only.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace mq {

class THelpWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* kContents = "qrc:/guide/index.html";

  explicit THelpWindow(QWidget* owner = nullptr);
  // Shows the table of contents and brings the window to the front.
  void ShowContents();
  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

}  // namespace mq
