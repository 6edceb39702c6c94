#include "qt/ModuleApplication.h"

#include <gtest/gtest.h>

#include <QtGlobal>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    ModuleApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
