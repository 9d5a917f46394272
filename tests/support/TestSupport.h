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

#endif /* TEST_SUPPORT_H */
