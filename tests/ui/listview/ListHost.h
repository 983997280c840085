#pragma once
// A window with the four controls the list drives, laid out as the main window does:
// the header on top, the scroll box below with the paint box and the vertical bar.

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStringList>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <utility>
#include <vector>

#include "ui/CoolListView.h"

namespace orvella::test {

using Sections = std::vector<std::pair<QString, int>>;

// Lets layouts, resizes and focus changes that Qt posts take effect.
inline void Settle() {
  for (int i = 0; i < 4; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

class ListHost {
 public:
  QStandardItemModel HeaderModel;  // outlives the header that shows it
  QWidget Window;
  QHeaderView* Header;
  QWidget* ScrollBox;
  QWidget* PaintBox;
  QScrollBar* ScrollBar;
  QLineEdit* Other;  // somewhere else for the focus to go
  TCoolListView* View = nullptr;

  explicit ListHost(const Sections& sections, int width = 640) {
    Window.setObjectName("ListHost");
    auto* column = new QVBoxLayout(&Window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Header = new QHeaderView(Qt::Horizontal, &Window);
    Header->setObjectName("HeaderControl00");
    QStringList captions;
    for (const auto& s : sections) captions << s.first;
    HeaderModel.setColumnCount(static_cast<int>(sections.size()));
    HeaderModel.setHorizontalHeaderLabels(captions);
    Header->setModel(&HeaderModel);
    Header->setMinimumSectionSize(1);
    for (std::size_t i = 0; i < sections.size(); ++i)
      Header->resizeSection(static_cast<int>(i), sections[i].second);
    Header->setFixedHeight(Header->sizeHint().height());

    ScrollBox = new QWidget(&Window);
    ScrollBox->setObjectName("ScrollBox00");
    auto* row = new QHBoxLayout(ScrollBox);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    PaintBox = new QWidget(ScrollBox);
    PaintBox->setObjectName("PaintBox00");
    ScrollBar = new QScrollBar(Qt::Vertical, ScrollBox);
    ScrollBar->setObjectName("ScrollBar00");
    row->addWidget(PaintBox, 1);
    row->addWidget(ScrollBar);

    Other = new QLineEdit(&Window);
    column->addWidget(Header);
    column->addWidget(ScrollBox);
    column->addWidget(Other);
    column->addStretch(1);
    Window.resize(width, 700);
  }

  // A window repaints its list while it closes (the focus leaves it), so the owner
  // detaches a model that may go before the window does.
  ~ListHost() {
    if (View != nullptr) View->SetpCoolItemsList(nullptr);
  }

  ListHost(const ListHost&) = delete;
  ListHost& operator=(const ListHost&) = delete;

  // The list as the main window makes it: owned by the window, pitch = font height + 2.
  TCoolListView& Make(int fontHeight = 14, const QString& face = "Liberation Mono") {
    View = new TCoolListView(&Window, ScrollBox, PaintBox, ScrollBar, Header, fontHeight, face);
    View->SetRowHeightIncrease(2);
    View->SetBottomTextMargin(0);
    View->SetMultiThreadRepaint(false);
    View->Refresh();
    return *View;
  }

  // Makes the paint box `pixels` high and shows the window active.
  void Show(int pixels) {
    ScrollBox->setFixedHeight(pixels);
    Window.show();
    Window.activateWindow();
    (void)QTest::qWaitForWindowActive(&Window);
    Settle();
  }

  // Hands a model over the way the owner does and lets the layout follow the scroll bar.
  void Attach(TCoolItemsList* list, int cursor = -1) {
    View->SetpCoolItemsList(list);
    View->Refresh();
    if (cursor >= 0) View->SetItemIndex(cursor);
    Settle();
  }
};

}  // namespace orvella::test
