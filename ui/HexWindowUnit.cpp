#include "ui/HexWindowUnit.h"

#include <QBoxLayout>
#include <QFrame>
#include <QGroupBox>
#include <QScrollBar>

namespace orvella {

namespace {

void MakeWhite(QWidget* w) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, Qt::white);
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

}  // namespace

THexForm::THexForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint) {
  setObjectName(QStringLiteral("HexForm"));
  setWindowTitle(QString::fromLatin1(kCaption));

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(8, 10, 8, 10);
  outer->setSpacing(0);

  auto* group = new QGroupBox(QString::fromLatin1(kGroupCaption), this);
  group->setObjectName(QStringLiteral("GroupBox"));
  outer->addWidget(group);

  auto* inner = new QVBoxLayout(group);
  inner->setContentsMargins(8, 10, 8, 10);
  inner->setSpacing(10);
  inner->addWidget(BuildViewPanel(QStringLiteral("01")), 1);
  QFrame* lower = BuildViewPanel(QStringLiteral("02"));
  lower->setFixedHeight(kSpareViewHeight);
  inner->addWidget(lower, 0);

  // Until the window system reports the frame, the designed client width stands (the
  // designed frame is 8 pixels on each side).
  fOuter = new TOuterFrame(*this);
  fOuter->SetFixedOuterWidth(kOuterWidth, kClientWidth);
  resize(width(), kClientHeight);
  layout()->activate();

  FormCreate();
}

QFrame* THexForm::BuildViewPanel(const QString& suffix) {
  auto* panel = new QFrame;
  panel->setObjectName(QStringLiteral("Panel") + suffix);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  auto* panelLayout = new QHBoxLayout(panel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->setSpacing(0);

  // The scroll box has no border and no scroll bars of its own; the view drives the
  // bar beside the paint box.
  auto* box = new QWidget(panel);
  box->setObjectName(QStringLiteral("ScrollBox") + suffix);
  box->setFocusPolicy(Qt::ClickFocus);
  MakeWhite(box);
  panelLayout->addWidget(box);

  auto* boxLayout = new QHBoxLayout(box);
  boxLayout->setContentsMargins(0, 0, 0, 0);
  boxLayout->setSpacing(0);

  auto* strip = new QWidget(box);
  strip->setObjectName(QStringLiteral("Strip") + suffix);
  strip->setFixedWidth(kLeftStripWidth);
  MakeWhite(strip);
  boxLayout->addWidget(strip);

  auto* paint = new QWidget(box);
  paint->setObjectName(QStringLiteral("PaintBox") + suffix);
  paint->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  boxLayout->addWidget(paint, 1);

  auto* bar = new QScrollBar(Qt::Vertical, box);
  bar->setObjectName(QStringLiteral("ScrollBar") + suffix);
  bar->setFixedWidth(kScrollBarWidth);
  boxLayout->addWidget(bar);
  return panel;
}

void THexForm::SetPort(WindowPort* port) {
  fMainView->SetPort(port);
  fSpareView->SetPort(port);
}

void THexForm::FormCreate() {
  const auto makeView = [this](const QString& suffix) {
    return std::make_unique<THEXView>(nullptr,
                                      findChild<QWidget*>(QStringLiteral("ScrollBox") + suffix),
                                      findChild<QWidget*>(QStringLiteral("PaintBox") + suffix),
                                      findChild<QScrollBar*>(QStringLiteral("ScrollBar") + suffix));
  };
  fMainView = makeView(QStringLiteral("01"));
  fSpareView = makeView(QStringLiteral("02"));
  fMainView->InitializeViewData(std::string(), 0, 0);
  fSpareView->InitializeViewData(std::string(), 0, 0);
}

}  // namespace orvella
