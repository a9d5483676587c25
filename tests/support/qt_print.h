#pragma once

// How GoogleTest prints Qt's strings in a failed comparison: as quoted text,
// not as a list of 16-bit values. Every test file that compares them
// includes this, so each binary prints them one way.
#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << ::testing::PrintToString(s.toStdString()); }
inline void PrintTo(const QByteArray& b, std::ostream* os) { *os << ::testing::PrintToString(b.toStdString()); }
QT_END_NAMESPACE
