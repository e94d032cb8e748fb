#include "tapwick/app/root_view.hpp"

#include <QEvent>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QVBoxLayout>
#include <algorithm>

#include "tapwick/app/connect_view.hpp"
#include "tapwick/app/main_view.hpp"
#include "tapwick/app/widgets.hpp"

namespace tapwick {

RootView::RootView(std::shared_ptr<VoduzaziService> service,
                   std::function<void(Size)> resizePopover, QWidget* parent)
    : QWidget(parent), resizePopover_(std::move(resizePopover)) {
  model_ = RootViewModel::create(std::move(service), [this](Size size) {
    popoverSize_ = size;
    fitPopover();
  });
  loading_ = createLoading();
  forms_ = createForms();
  for (QWidget* page : {loading_, forms_}) adopt(page);
  model_->changed = [this] { render(); };
  render();
  model_->handleAppear();
}

void RootView::adopt(QWidget* page) {
  page->hide();
  page->installEventFilter(this);
}

void RootView::showPage(QWidget* page) {
  if (current_ == page) return;
  if (current_ != nullptr) current_->hide();
  current_ = page;
  fitPage();
  page->show();
}

bool RootView::eventFilter(QObject* watched, QEvent* event) {
  // The shown screen's content changed (an error, the code row): its frame may have to grow.
  if (watched == current_ && event->type() == QEvent::LayoutRequest) fitPopover();
  return QWidget::eventFilter(watched, event);
}

void RootView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placePage();
}

QSize RootView::frameOf(QWidget* page) const {
  const Size frame = model_->screenSize();
  QSize size(frame.width, frame.height);
  // The frame grows where the default fonts need more room than it gives.
  if (QLayout* layout = page->layout()) {
    const QSize least = layout->totalMinimumSize();
    size = size.expandedTo(least);
    if (layout->hasHeightForWidth()) {
      size.setHeight(std::max(size.height(), layout->totalHeightForWidth(size.width())));
    }
  }
  return size;
}

int RootView::padding() const { return style()->pixelMetric(QStyle::PM_LayoutLeftMargin); }

void RootView::fitPage() {
  if (current_ == nullptr) return;
  const QSize frame = frameOf(current_);
  if (current_->size() != frame) current_->setFixedSize(frame);
  placePage();
}

void RootView::placePage() {
  if (current_ == nullptr) return;
  current_->move(std::max(0, (width() - current_->width()) / 2),
                 std::max(0, (height() - current_->height()) / 2));
}

QSize RootView::neededSize() const {
  if (current_ == nullptr) return {};
  const int pad = padding();
  return frameOf(current_) + QSize(2 * pad, 2 * pad);
}

void RootView::fitPopover() {
  fitPage();
  if (!resizePopover_ || popoverSize_.width == 0) return;
  const QSize size = QSize(popoverSize_.width, popoverSize_.height).expandedTo(neededSize());
  resizePopover_({size.width(), size.height()});
}

QWidget* RootView::createLoading() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* busy = new QProgressBar(page);
  busy->setRange(0, 0);
  busy->setFixedWidth(160);
  layout->addStretch();
  layout->addWidget(busy, 0, Qt::AlignCenter);
  layout->addWidget(plainLabel("Loading...", page), 0, Qt::AlignCenter);
  layout->addStretch();
  return page;
}

QWidget* RootView::createForms() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setSpacing(16);
  tabs_ = new QTabBar(page);
  tabs_->setObjectName("tabs");
  tabs_->addTab("Sign In");
  tabs_->addTab("Sign Up");
  tabs_->setFixedWidth(220);
  tabs_->setExpanding(true);
  layout->addWidget(tabs_, 0, Qt::AlignCenter);
  notice_ = plainLabel({}, page);
  notice_->setObjectName("sessionEnded");
  notice_->setAlignment(Qt::AlignCenter);
  notice_->setWordWrap(true);
  notice_->hide();
  layout->addWidget(notice_);

  auto* form = new QVBoxLayout();
  form->setSpacing(10);
  form->setContentsMargins(20, 0, 20, 0);
  username_ = new QLineEdit(page);
  username_->setObjectName("username");
  username_->setPlaceholderText("Username");
  email_ = new QLineEdit(page);
  email_->setObjectName("email");
  email_->setPlaceholderText("Email");
  password_ = new QLineEdit(page);
  password_->setObjectName("password");
  password_->setPlaceholderText("Password");
  password_->setEchoMode(QLineEdit::Password);
  submit_ = new QPushButton(page);
  submit_->setObjectName("submit");
  error_ = errorLabel(page);
  for (QWidget* widget : {static_cast<QWidget*>(username_), static_cast<QWidget*>(email_),
                          static_cast<QWidget*>(password_), static_cast<QWidget*>(submit_),
                          static_cast<QWidget*>(error_)}) {
    form->addWidget(widget);
  }
  layout->addLayout(form);
  layout->addStretch();

  connect(tabs_, &QTabBar::currentChanged, this, [this](int tab) {
    model_->selectedTab = tab;
    render();
  });
  connect(username_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_->username = toStdString(text); });
  connect(email_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_->email = toStdString(text); });
  connect(password_, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_->password = toStdString(text); });
  connect(submit_, &QPushButton::clicked, this, [this] {
    if (model_->selectedTab == 0) {
      model_->submitSignIn();
    } else {
      model_->submitSignUp();
    }
  });
  return page;
}

void RootView::render() {
  using Screen = RootViewModel::Screen;
  const Screen screen = model_->screen();
  if (screen != shown_ ||
      (screen_ == nullptr && (screen == Screen::pairing || screen == Screen::messaging))) {
    if (screen_ != nullptr) {
      if (current_ == screen_) current_ = nullptr;
      screen_->hide();
      screen_->deleteLater();
      screen_ = nullptr;
    }
    auto setShowMain = [model = model_](bool show) { model->setShowMain(show); };
    if (screen == Screen::pairing) {
      screen_ = new ConnectView(model_->service(), setShowMain, this);
    } else if (screen == Screen::messaging) {
      screen_ = new MainView(model_->service(), setShowMain, this);
    }
    if (screen_ != nullptr) adopt(screen_);
    shown_ = screen;
  }
  switch (screen) {
    case Screen::loading:
      showPage(loading_);
      break;
    case Screen::signIn:
      if (current_ != forms_) {
        showPage(forms_);
        email_->setFocus();
      }
      break;
    default:
      showPage(screen_);
  }
  const bool signUp = model_->selectedTab != 0;
  tabs_->setCurrentIndex(model_->selectedTab);
  username_->setVisible(signUp);
  submit_->setText(signUp ? "Sign Up" : "Sign In");
  showError(error_, model_->error);
  const auto notice = model_->notice();
  notice_->setText(toQString(notice.value_or(std::string())));
  notice_->setVisible(notice.has_value());
}

}  // namespace tapwick
