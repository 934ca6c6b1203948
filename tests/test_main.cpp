// Test programs run in a single-threaded apartment, as the control's clients do.
#include <objbase.h>

#include <gtest/gtest.h>

#include "com/module.h"
#include "module/classes.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The component's classes and type library, as the DLL hands them over at attach.
    com::DescribeModule(ombrix::kOmbrixModule);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
