// Delete in the list: the selected file goes to the trash and its row goes
// with it; the next row takes the selection, as in a file manager.

#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "platform/desktop_shell.h"

namespace {

// The row that still shows path: the selected one unless the list changed
// while the question was open.
int RowOf(const yuragi::DetectionModel& model, int selected, const QByteArray& path) {
  auto matches = [&](int row) { return model.At(row).path == path; };
  if (selected >= 0 && selected < model.rowCount() && matches(selected)) return selected;
  for (int row = 0; row < model.rowCount(); ++row) {
    if (matches(row)) return row;
  }
  return -1;
}

}  // namespace

void TForm1::DeleteP1Click() {
  const QByteArray path = SelectedRowPath();
  if (path.isEmpty()) return;
  if (!shell_->MoveToTrash(this, path)) return;
  const int row = RowOf(*ListModel, ListView1->SelectedRow(), path);
  if (row < 0) return;
  ListModel->Remove(row);
  const int count = ListModel->rowCount();
  if (count == 0) return;
  const int next = row < count ? row : count - 1;
  ListView1->SelectRow(next);
  ListView1->ScrollToRow(next);
}
