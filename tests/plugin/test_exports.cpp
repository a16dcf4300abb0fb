#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

// The plug-in's dynamic symbol table defines showdll and nothing else of its own.
// Symbols the table lists with local binding (lower-case type letter other than
// u, v, w; the sanitizer build has a few) are not visible to the host.
TEST(PluginExports, OnlyShowdllIsExported) {
  QProcess nm;
  nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                  QStringLiteral(QADJ_PLUGIN_FILE)});
  ASSERT_TRUE(nm.waitForFinished(30000));
  ASSERT_EQ(nm.exitCode(), 0) << nm.readAllStandardError().toStdString();
  QStringList names;
  for (const QString& line : QString::fromUtf8(nm.readAllStandardOutput()).split('\n')) {
    const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
    if (parts.size() < 3 || parts[1].size() != 1) continue;
    const QChar type = parts[1][0];
    if (type.isUpper() || QStringLiteral("uvw").contains(type)) names << parts[2];
  }
  EXPECT_EQ(names, QStringList{QStringLiteral("showdll")});
}
