// Where the files a run writes for many videos fall: on each other, on
// the videos themselves, on a file named apart.
#pragma once

#include "export/outputs.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// The path the output names are made from: the video path itself, or the
// video's file name in outputDir.
QString outputBase(const QString &videoPath, const QString &outputDir);

// The first two videos, different files, whose outputs would have the same
// names (under one outputDir, the same file name); nothing when all differ.
std::optional<std::pair<QString, QString>> clashingOutputs(const QStringList &videos,
                                                           const QString &outputDir);

// The first video that would be overwritten by a file the run writes (its
// own, another video's or one of others, such as the comparison): the same
// absolute clean path, or for files that exist, the same file reached another
// way. Nothing when there is none.
std::optional<QString> videoAmongOutputs(const QStringList &videos, const OutputChoice &choice,
                                         const QString &outputDir, const QStringList &others = {});
// The first of the files the run writes for videos, and of others, that is
// file (the same absolute clean path, or the same existing file reached
// another way); nothing when none is.
std::optional<QString> writtenAmong(const QString &file, const QStringList &videos,
                                    const OutputChoice &choice, const QString &outputDir,
                                    const QStringList &others = {});
