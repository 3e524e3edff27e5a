// The folder tree over the native entries, without the main window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <filesystem>

#include "byte_temp_dir.h"
#include "jpeg_writer.h"
#include "platform/paths.h"
#include "widgets/folder_tree.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

QStringList Shown(FolderTree& tree, const QModelIndex& parent) {
  tree.expand(parent);
  QStringList names;
  for (int row = 0; row < tree.model()->rowCount(parent); ++row) {
    names << tree.model()->index(row, 0, parent).data().toString();
  }
  return names;
}

}  // namespace

TEST(FolderTree, ListsFoldersAndLinksToThemButNoFilesOrDotFolders) {
  ByteTempDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray root = dir.path();
  for (const char* name : {"b", "a", "\x89\xE6\x91\x9C", ".hidden/inner", "c/d"}) {
    ASSERT_TRUE(std::filesystem::create_directories((root + "/" + name).toStdString()));
  }
  WriteFile((root + "/file.jpg").toStdString(), std::string("x"));
  ASSERT_EQ(::symlink((root + "/c").constData(), (root + "/link").constData()), 0);
  ASSERT_EQ(::symlink((root + "/file.jpg").constData(), (root + "/filelink").constData()), 0);

  FolderTree tree;
  ASSERT_TRUE(tree.SetPath(root));
  EXPECT_EQ(tree.SelectedPath(), root);
  EXPECT_EQ(Shown(tree, tree.currentIndex()), QStringList({"\\x89\\xE6\\x91\\x9C", "a", "b", "c", "link"}));

  // Each level on the way is listed; the root is "/".
  QModelIndex top = tree.currentIndex();
  while (top.parent().isValid()) top = top.parent();
  EXPECT_EQ(top.data().toString(), "/");

  // The odd folder is entered by its bytes, a dot-folder when asked for.
  ASSERT_TRUE(tree.SetPath(root + "/\x89\xE6\x91\x9C"));
  EXPECT_EQ(tree.SelectedPath(), root + "/\x89\xE6\x91\x9C");
  ASSERT_TRUE(tree.SetPath(root + "/.hidden/inner"));
  EXPECT_EQ(tree.SelectedPath(), root + "/.hidden/inner");
  ASSERT_TRUE(tree.SetPath(root + "/link/d"));
  EXPECT_EQ(tree.SelectedPath(), root + "/link/d");
  // Relative and dotted paths lead to the same folder.
  ASSERT_EQ(::chdir(root.constData()), 0);
  ASSERT_TRUE(tree.SetPath("./c/../b"));
  EXPECT_EQ(tree.SelectedPath(), root + "/b");

  // Files and missing folders are refused and change nothing.
  EXPECT_FALSE(tree.SetPath(root + "/file.jpg"));
  EXPECT_FALSE(tree.SetPath(root + "/filelink"));
  EXPECT_FALSE(tree.SetPath(root + "/gone"));
  EXPECT_FALSE(tree.SetPath(""));
  EXPECT_EQ(tree.SelectedPath(), root + "/b");
  ASSERT_EQ(::chdir("/"), 0);
}
