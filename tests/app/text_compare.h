// QCOMPARE of what the window holds (a QString) with a text of the window: the window keeps
// the Japanese source, so that is what is compared.
#pragma once

#include "texts.h"

#include <QTest>

namespace QTest {
inline bool qCompare(const QString &actual, const texts::Text &expected, const char *actualName,
                     const char *expectedName, const char *file, int line) {
    return qCompare(actual, expected.source(), actualName, expectedName, file, line);
}
} // namespace QTest
