#include "shell/ui/main/main_services_ui.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <array>
#include <vector>

#include "common/pascal_format.h"
#include "core/batch_state.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "shell/display/preview_bitmap.h"
#include "shell/display/renderer.h"
#include "shell/main/main_services.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/open_by_name.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/main/preview_partners.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/color_models.h"
#include "store/slot_holds.h"
#include "store/window_caption.h"

namespace astrelon {

std::function<void(int)> SlotReferencesHook;
std::function<void(int)> InfoPanelUpdatedHook;

// ---- busy cursor on screen ----

namespace {

Qt::CursorShape ShapeOfCode(int16_t code) {
  switch (code) {
    case CursorHourGlass: return Qt::WaitCursor;
    case -19: return Qt::BusyCursor;
    case -3: return Qt::CrossCursor;
    case -21: return Qt::PointingHandCursor;
    default: return Qt::ArrowCursor;
  }
}

int16_t CodeOfShape(Qt::CursorShape shape) {
  switch (shape) {
    case Qt::WaitCursor: return CursorHourGlass;
    case Qt::BusyCursor: return -19;
    case Qt::CrossCursor: return -3;
    case Qt::PointingHandCursor: return -21;
    default: return -2;
  }
}

int16_t QtCurrentCursor() {
  const QCursor* c = QApplication::overrideCursor();
  return c ? CodeOfShape(c->shape()) : CursorDefault;
}

// The program keeps at most one override cursor of its own; the stack remembers the rest.
void QtSetCursor(int16_t code) {
  if (code == CursorDefault) {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  } else if (QApplication::overrideCursor()) {
    QApplication::changeOverrideCursor(QCursor(ShapeOfCode(code)));
  } else {
    QApplication::setOverrideCursor(QCursor(ShapeOfCode(code)));
  }
}

// ---- dialog forms ----

struct TFormRegistry {
  std::array<std::function<QWidget*()>, DialogFormCount> Factory;
  std::array<QPointer<QWidget>, DialogFormCount> Form;
  std::array<bool, DialogFormCount> Created{};
  std::array<bool, DialogFormCount> NeedsTranslation;
  TFormRegistry() { NeedsTranslation.fill(true); }
};

TFormRegistry& Forms() {
  static TFormRegistry r;
  return r;
}

bool ValidForm(int n) { return n >= 0 && n < DialogFormCount; }

// ---- recent files ----

struct TRecentFileMenu {
  QPointer<QMenu> Menu;
  QPointer<QAction> Separator;
  std::array<QPointer<QAction>, RecentFileCount + 1> Items;  // 1..8
  std::function<void(const std::string&)> Open;
};

TRecentFileMenu& RecentMenu() {
  static TRecentFileMenu m;
  return m;
}

constexpr int MaxRecentFunctions = 10;

void SyncRecentFunctionSettings() {
  for (int k = 1; k <= StoredRecentFunctionCount; ++k)
    Settings.RecentFunctions[size_t(k)] = RecentFunctionCaption(k - 1).toStdString();
}

// Actions of all menus below a widget's menu bar and menus, depth first.
void CollectActions(const QList<QAction*>& actions, std::vector<QAction*>& out) {
  for (QAction* a : actions) {
    if (a->isSeparator()) continue;
    if (a->menu())
      CollectActions(a->menu()->actions(), out);
    else
      out.push_back(a);
  }
}

}  // namespace

void InstallMainServices() {
  SetCursorAccess({&QtCurrentCursor, &QtSetCursor});
  RecentFilesChangedHook = &UpdateRecentFileMenu;
}

void RegisterDialogForm(int n, std::function<QWidget*()> factory) {
  if (!ValidForm(n)) return;
  const bool wasRegistered = bool(Forms().Factory[size_t(n)]);
  Forms().Factory[size_t(n)] = std::move(factory);
  // Items that wait for this form show now.
  if (!wasRegistered) RefreshMenuVisibility();
}

bool DialogFormRegistered(int n) { return ValidForm(n) && bool(Forms().Factory[size_t(n)]); }

void RegisterFormLauncher(const QString& objectName, int n, std::function<void(QAction* sender)> handler) {
  RegisterMenuCommand(objectName, std::move(handler), [n] { return DialogFormRegistered(n); });
}

bool EnsureDialogForm(int n) {
  if (!ValidForm(n)) return true;
  TFormRegistry& r = Forms();
  const size_t i = size_t(n);
  if (!r.Form[i] && r.Factory[i]) {
    QWidget* form = r.Factory[i]();
    if (form) {
      form->setProperty("FormTag", n);
      r.Form[i] = form;
      QObject::connect(form, &QObject::destroyed, [n] { Forms().Created[size_t(n)] = false; });
    }
  }
  r.Created[i] = true;
  return true;
}

QWidget* DialogForm(int n) { return ValidForm(n) ? Forms().Form[size_t(n)].data() : nullptr; }

bool DialogFormCreated(int n) { return ValidForm(n) && Forms().Created[size_t(n)]; }

bool DialogFormNeedsTranslation(int n) { return ValidForm(n) && Forms().NeedsTranslation[size_t(n)]; }

void SetDialogFormTranslated(int n) {
  if (ValidForm(n)) Forms().NeedsTranslation[size_t(n)] = false;
}

void ReleaseDialogForm(const QString& name) {
  TFormRegistry& r = Forms();
  for (int n = 0; n < DialogFormCount; ++n) {
    QWidget* form = r.Form[size_t(n)];
    if (!form || form->objectName() != name) continue;
    r.Created[size_t(n)] = false;
    r.NeedsTranslation[size_t(n)] = true;
    r.Form[size_t(n)] = nullptr;
    form->deleteLater();
    return;
  }
}

void InstallRecentFileMenu(QMenu* fileMenu, QAction* before, std::function<void(const std::string&)> open) {
  TRecentFileMenu& m = RecentMenu();
  m.Menu = fileMenu;
  m.Open = open ? std::move(open) : [](const std::string& name) { OpenFileByName(name); };
  m.Separator = fileMenu->insertSeparator(before);
  for (int k = 1; k <= RecentFileCount; ++k) {
    auto* a = new QAction(fileMenu);
    fileMenu->insertAction(before, a);
    QObject::connect(a, &QAction::triggered, [k] {
      const std::string name = Settings.RecentFiles[size_t(k)];
      if (!name.empty() && RecentMenu().Open) RecentMenu().Open(name);
    });
    m.Items[size_t(k)] = a;
  }
  UpdateRecentFileMenu();
}

void UpdateRecentFileMenu() {
  TRecentFileMenu& m = RecentMenu();
  if (m.Menu) {
    bool any = false;
    for (int k = 1; k <= RecentFileCount; ++k) {
      QAction* a = m.Items[size_t(k)];
      if (!a) continue;
      const std::string& name = Settings.RecentFiles[size_t(k)];
      a->setVisible(!name.empty());
      // A "&" in a file name must not become an accelerator.
      a->setText(QString::fromStdString(name).replace("&", "&&"));
      any = any || !name.empty();
    }
    if (m.Separator) m.Separator->setVisible(any);
  }
  CallUpdateMenuItems();
}

QMenu* RecentFunctionsMenu() {
  static QPointer<QMenu> menu;
  if (!menu) {
    menu = new QMenu(MainLink().Window.data());
    menu->setObjectName("Lastfunctionsmenu");
    menu->setTitle("Letzte Funktionen");
  }
  return menu;
}

void AddRecentFunction(QAction* sender) {
  if (!sender) return;
  QMenu* menu = RecentFunctionsMenu();
  const QString caption = QString::fromStdString(StripAccelerators(sender->text().toStdString()));
  QList<QAction*> items = menu->actions();
  QAction* found = nullptr;
  for (QAction* a : items)
    if (QString::fromStdString(StripAccelerators(a->text().toStdString())) == caption) found = a;
  if (!found) {
    found = new QAction(caption, menu);
    found->setData(sender->data());
    QPointer<QAction> source = sender;
    QObject::connect(found, &QAction::triggered, [source] {
      if (source) source->trigger();
    });
    menu->addAction(found);
  }
  items = menu->actions();
  if (!items.isEmpty() && items.first() != found) {
    menu->removeAction(found);
    menu->insertAction(menu->actions().isEmpty() ? nullptr : menu->actions().first(), found);
  }
  while (menu->actions().size() > MaxRecentFunctions) {
    QAction* last = menu->actions().last();
    menu->removeAction(last);
    delete last;
  }
  SyncRecentFunctionSettings();
}

QString RecentFunctionCaption(int index) {
  const QList<QAction*> items = RecentFunctionsMenu()->actions();
  if (index < 0 || index >= items.size()) return {};
  return QString::fromStdString(StripAccelerators(items[index]->text().toStdString()));
}

void RestoreRecentFunctions(QWidget* root) {
  if (!root) return;
  std::vector<QAction*> actions;
  CollectActions(root->actions(), actions);
  for (QMenuBar* bar : root->findChildren<QMenuBar*>()) CollectActions(bar->actions(), actions);
  const auto remembered = Settings.RecentFunctions;
  for (int k = StoredRecentFunctionCount; k >= 1; --k) {
    const std::string& caption = remembered[size_t(k)];
    if (caption.empty()) continue;
    if (QAction* item = FindMenuItemByCaption(QString::fromStdString(caption))) {
      AddRecentFunction(item);
      continue;
    }
    for (QAction* a : actions) {
      if (QString::fromStdString(StripAccelerators(a->text().toStdString())).compare(
              QString::fromStdString(caption), Qt::CaseInsensitive) == 0) {
        AddRecentFunction(a);
        break;
      }
    }
  }
}

void ImageChanged(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return;
  Store.Display[size_t(slot)].Changed = 1;
  RenderImageWindow(slot, false);
}

namespace {
void ClearSlotReferences(int slot) {
  if (CurrentWindowSlot == slot) CurrentWindowSlot = -1;
  if (CopySourceSlot == slot) CopySourceSlot = -1;
  if (SlotReferencesHook) SlotReferencesHook(slot);
}
}  // namespace

void CloseImageSlot(int slot) {
  // Running workers keep the slots they hold (the window's own close refuses too).
  if (slot < 0 || slot >= SlotArraySize || SlotHeldByWorkers(slot)) return;
  if (TMDIChild* w = ImageWindow(slot)) {
    ClearSlotReferences(slot);
    if (BatchRunning) RememberedWindowPosition = {true, w->x(), w->y()};
    w->SetBorderIconsLocked(false);
    w->close();
  } else if (Store.InUse[size_t(slot)]) {
    ClearSlotReferences(slot);
    ReleaseWindowUndo(slot);
    FreeSlot(slot);
  }
}

void LockWindowBorderIcons(int slot) {
  // A window already reduced (the pair of a running operation) is left alone, so
  // that the matching unlock does not give it its close icon back too early.
  TMDIChild* w = ImageWindow(slot);
  if (!w || w->BorderIconsLocked()) return;
  w->SetBorderIconsLocked(true);
  w->MouseOperationLock = true;
}

void UnlockWindowBorderIcons(int slot) {
  TMDIChild* w = ImageWindow(slot);
  if (!w || !w->MouseOperationLock) return;
  w->MouseOperationLock = false;
  w->SetBorderIconsLocked(false);
}

void DeleteAllWindowMarks(int slot) {
  if (TMDIChild* w = ImageWindow(slot)) w->DeleteAllMarks();
}

void UpdateInfoPanel(int slot, int partnerToo) {
  if (slot < 1 || slot > MaxImageSlots || Closing) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (im.IsColor) Store.Display[size_t(slot)].DisplayType = im.ColorModel == CmYuv ? DtColorYuv : DtColorRgb;
  if (MainLink().UpdateInfoPanelControls) MainLink().UpdateInfoPanelControls(slot, partnerToo);
  FollowPreviewPartners(slot, partnerToo);
  if (InfoPanelUpdatedHook) InfoPanelUpdatedHook(slot);
}

void ShowCpuFeatures() { SetMainStatusText(0, QString::fromStdString(CpuFeaturesText())); }

QPixmap ColourButtonGlyph(QSize size) {
  QPixmap glyph(size);
  glyph.fill(Qt::transparent);
  const uint32_t c = uint32_t(Settings.TextColour);  // blue, green, red from the high byte down
  QPainter p(&glyph);
  p.setPen(Qt::black);
  p.setBrush(QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)));
  p.drawRect(QRect(QPoint(0, 0), size).adjusted(0, 0, -1, -1));
  return glyph;
}

void SetWindowCaption(int slot) {
  TMDIChild* w = ImageWindow(slot);
  if (!w) return;
  const QString text = QString::fromStdString(WindowCaptionText(slot));
  const QFontMetrics metrics(w->font());
  w->setWindowTitle(metrics.elidedText(text, Qt::ElideMiddle, std::max(0, w->width() - 76)));
}

void ShowZoomStatus(int slot) {
  TMDIChild* w = ImageWindow(slot);
  if (!w) return;
  // A translation of "Zoom" gets ": " appended.
  const std::string word = LangText(LangKey(10, 2));
  const std::string text = word.empty() ? ZoomStatusText(slot)
                                        : word + ": " + IntToStr(Store.Display[size_t(slot)].ZoomPercent) + "%";
  w->ZoomPanel->setText(QString::fromStdString(text));
}

namespace {
QPointer<QLabel> PreviewControl;
}

void SetPreviewControl(QLabel* control) { PreviewControl = control; }

void ShowWindowPreview(int slot) {
  if (!SlotInUse(slot) || Store.Image[size_t(slot)].PixelCount() == 0 || !PreviewControl) return;
  TDisplayBitmap bitmap;
  if (!FillPreviewBitmap(slot, bitmap, true)) return;
  QImage image(bitmap.Pixels.data(), bitmap.Width, bitmap.Height, qsizetype(bitmap.Stride),
               bitmap.Format == TBitmapFormat::Indexed8 ? QImage::Format_Indexed8 : QImage::Format_BGR888);
  if (bitmap.Format == TBitmapFormat::Indexed8) {
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i) table[i] = 0xFF000000u | bitmap.ColourTable[size_t(i)];
    image.setColorTable(table);
  }
  const TPreviewPlacement place = PreviewPlacement(bitmap.Width, bitmap.Height);
  QPixmap canvas(PreviewControl->size().expandedTo(QSize(PreviewBoxWidth + 6, PreviewBoxHeight + 54)));
  canvas.fill(PreviewControl->palette().window().color());
  QPainter p(&canvas);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(QRect(place.Left, place.Top, place.Width, place.Height), image);
  p.end();
  PreviewControl->setPixmap(canvas);
}

}  // namespace astrelon
