// RootView: the popover's content. Shows the screen the RootViewModel picks (loading, the
// sign-in and sign-up forms, pairing, messaging) in the screen's frame, centred with the default
// padding around it; the pairing and messaging screens are built anew each time they are shown.
// A frame grows where the default fonts need more room, and the popover grows to hold it.
#pragma once

#include <QWidget>
#include <memory>

#include "tapwick/root_view_model.hpp"

class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;

namespace tapwick {

class RootView : public QWidget {
 public:
  RootView(std::shared_ptr<VoduzaziService> service, std::function<void(Size)> resizePopover,
           QWidget* parent);

  RootViewModel& model() { return *model_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QWidget* createLoading();
  QWidget* createForms();
  void render();
  void adopt(QWidget* page);
  void showPage(QWidget* page);
  // The screen's frame for `page`, grown to what its layout needs.
  QSize frameOf(QWidget* page) const;
  int padding() const;
  QSize neededSize() const;
  void fitPage();
  void placePage();
  // Gives the popover the size the model asked for, grown to hold the frame and its padding.
  void fitPopover();

  std::function<void(Size)> resizePopover_;
  Size popoverSize_;
  std::shared_ptr<RootViewModel> model_;
  QWidget* current_ = nullptr;
  QWidget* loading_;
  QWidget* forms_;
  QWidget* screen_ = nullptr;  // the pairing or messaging screen shown
  RootViewModel::Screen shown_ = RootViewModel::Screen::loading;
  QTabBar* tabs_;
  QLabel* notice_;
  QLineEdit* username_;
  QLineEdit* email_;
  QLineEdit* password_;
  QPushButton* submit_;
  QLabel* error_;
};

}  // namespace tapwick
