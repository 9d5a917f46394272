/*
 * TestSupport.h --
 *
 *	The test-support module's files among themselves.
 */
#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

#include "VantlePriv.h"

/* Registers Vantle::TestSupport::test_classes. */
void TestSupport_BootClasses(pTHX);

/* Registers Vantle::TestSupport::add_class and add_method. */
void TestSupport_BootRuntime(pTHX);

#endif /* TEST_SUPPORT_H */
