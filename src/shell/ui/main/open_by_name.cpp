#include "shell/ui/main/open_by_name.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QObject>
#include <QUrl>
#include <QWidget>
#include <new>

#include "common/engine_ui.h"
#include "shell/main/known_extensions.h"
#include "shell/main/recent_files.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_loader.h"
#include "store/image_store.h"

namespace astrelon {

bool OpenFileByName(const std::string& name) {
  const int slot = FindFreeSlot();
  if (slot <= 0) return false;
  Store.FileName[size_t(slot)] = name;
  bool loaded = false;
  try {
    loaded = LoadImageFile(slot, name);
  } catch (const std::bad_alloc&) {
    FreeSlot(slot);
    EngineUi().ShowMessage("Nicht genug Speicher für " + name);
  } catch (const std::exception& e) {
    FreeSlot(slot);
    EngineUi().ShowMessage(e.what());
  }
  if (!loaded) return false;
  ShowImageWindow(slot);
  AddRecentFile(name);
  return true;
}

void HandleDroppedFiles(const QStringList& files) {
  for (const QString& f : files) {
    const std::string name = f.toStdString();
    if (AcceptedImageExtension(name)) OpenFileByName(name);
  }
}

namespace {

QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

class TFileDropFilter : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove) {
      auto* d = static_cast<QDropEvent*>(e);
      if (!LocalFiles(d->mimeData()).isEmpty()) {
        d->acceptProposedAction();
        return true;
      }
    } else if (e->type() == QEvent::Drop) {
      auto* d = static_cast<QDropEvent*>(e);
      const QStringList files = LocalFiles(d->mimeData());
      if (!files.isEmpty()) {
        d->acceptProposedAction();
        HandleDroppedFiles(files);
        return true;
      }
    }
    return QObject::eventFilter(watched, e);
  }
};

}  // namespace

void InstallFileDrop(QWidget* window) {
  if (!window || window->findChild<QObject*>("FileDropFilter", Qt::FindDirectChildrenOnly)) return;
  window->setAcceptDrops(true);
  auto* filter = new TFileDropFilter(window);
  filter->setObjectName("FileDropFilter");
  window->installEventFilter(filter);
}

}  // namespace astrelon
