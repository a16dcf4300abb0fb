#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

// The plug-in's dynamic symbol table defines showdll and nothing else of its own.
TEST(PluginExports, OnlyShowdllIsExported) {
  QProcess nm;
  nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                  QStringLiteral(QADJ_PLUGIN_FILE)});
  ASSERT_TRUE(nm.waitForFinished(30000));
  ASSERT_EQ(nm.exitCode(), 0) << nm.readAllStandardError().toStdString();
  QStringList names;
  for (const QString& line : QString::fromUtf8(nm.readAllStandardOutput()).split('\n')) {
    const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
    if (parts.size() >= 3) names << parts[2];
  }
  EXPECT_EQ(names, QStringList{QStringLiteral("showdll")});
}
