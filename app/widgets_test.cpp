// The window's own widgets and text conversion.
#include <gtest/gtest.h>

#include <QImage>
#include <QRadioButton>

#include "app/apd_status_light.h"
#include "app/control_picture_delegate.h"
#include "app/log_list_box.h"
#include "app/radio_group.h"
#include "app/windows_1252.h"

namespace mq {
namespace {

TEST(StatusLight, PaintsFillAndWhiteAndGreyEdges) {
  TApdStatusLight light;
  light.SetLitColor(QColor(0, 255, 255));
  light.SetNotLitColor(QColor(0, 0, 255));
  EXPECT_EQ(light.size(), QSize(13, 13));
  QImage off = light.Render();
  EXPECT_EQ(QColor(off.pixel(6, 6)), QColor(0, 0, 255));
  light.SetLit(true);
  QImage on = light.Render();
  EXPECT_EQ(QColor(on.pixel(6, 6)), QColor(0, 255, 255));
  const QColor white(255, 255, 255), grey(0x80, 0x80, 0x80);
  EXPECT_EQ(QColor(on.pixel(0, 0)), white);
  EXPECT_EQ(QColor(on.pixel(12, 0)), white);  // top edge runs to the corner
  EXPECT_EQ(QColor(on.pixel(0, 12)), white);  // left edge too
  EXPECT_EQ(QColor(on.pixel(12, 1)), grey);   // right edge from y = 1
  EXPECT_EQ(QColor(on.pixel(1, 12)), grey);   // bottom edge from x = 1
  EXPECT_EQ(QColor(on.pixel(12, 12)), grey);
  EXPECT_EQ(QColor(on.pixel(11, 11)), QColor(0, 255, 255));
}

TEST(Windows1252, DecodesEveryByteAndEncodesWhatTheCodePageHas) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const QString text = Windows1252::Decode(all);
  ASSERT_EQ(text.size(), 256);
  EXPECT_EQ(text[0x02], QChar(0x02));
  EXPECT_EQ(text[0x80], QChar(0x20AC));
  EXPECT_EQ(text[0x81], QChar(0x81));  // undefined: kept as C1 control
  EXPECT_EQ(text[0x9F], QChar(0x0178));
  EXPECT_EQ(Windows1252::Encode(text), all);  // the round trip is exact
  EXPECT_EQ(Windows1252::Encode(QString::fromUtf8("\u4E2D\U0001F600a")), "???a");
}

TEST(LogList, KeepsControlCharactersAndNamesThemWhenDrawn) {
  TLogListBox log;
  log.AddLine(
      QString::fromLatin1("3 --> \x02"
                          "0\x1b"
                          "3\x04"));
  ASSERT_EQ(log.Count(), 1);
  EXPECT_EQ(log.Line(0).size(), 11);
  EXPECT_EQ(ControlPictureDelegate::Mnemonic(QChar(0x02)), "STX");
  EXPECT_EQ(ControlPictureDelegate::Mnemonic(QChar(0x04)), "EOT");
  EXPECT_EQ(ControlPictureDelegate::Mnemonic(QChar(0x1B)), "ESC");
  EXPECT_EQ(ControlPictureDelegate::Mnemonic(QChar(0x7F)), "DEL");
  EXPECT_EQ(ControlPictureDelegate::Mnemonic(QChar(0x81)), "81");
  EXPECT_EQ(ControlPictureDelegate::Mnemonic(QChar('A')), "");
  EXPECT_EQ(ControlPictureDelegate::Mnemonic(QChar(0xE9)), "");
  // Each control takes a visible box: the line is wider than its printable part.
  QFont f;
  EXPECT_GT(ControlPictureDelegate::LineWidth(log.Line(0), f),
            ControlPictureDelegate::LineWidth(QStringLiteral("3 --> 03"), f));
  // Drawing a line with controls into an image leaves ink in the box area.
  log.resize(300, 40);
  QImage img(log.size(), QImage::Format_RGB32);
  img.fill(Qt::white);
  log.render(&img);
  int dark = 0;
  for (int x = 0; x < img.width(); ++x)
    for (int y = 0; y < 14; ++y) dark += qGray(img.pixel(x, y)) < 128;
  EXPECT_GT(dark, 20);
}

TEST(RadioGroup, SelectionFromCodeNeverRunsTheHandler) {
  TRadioGroup g;
  g.resize(200, 42);
  int clicks = 0;
  g.OnClick = [&] { ++clicks; };
  g.SetItems({"A", "B", "C"});
  EXPECT_EQ(g.ItemIndex(), -1);
  g.SetItemIndex(2);
  g.SetItemIndex(-1);
  EXPECT_EQ(g.ItemIndex(), -1);
  EXPECT_EQ(clicks, 0);
  g.Button(1)->click();
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(g.ItemIndex(), 1);
  g.SetItems({"X", "Y"});  // kept: item 1 still exists
  EXPECT_EQ(g.ItemIndex(), 1);
  EXPECT_EQ(g.Items(), (QStringList{"X", "Y"}));
}

}  // namespace
}  // namespace mq
