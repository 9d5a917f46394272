/*
 * ObjectAssertions.h --
 *
 *	What the host-side tests of Perl objects and forwarding share: the
 *	exception a body raises, and equality of objects as an assertion.
 */
#ifndef OBJECT_ASSERTIONS_H
#define OBJECT_ASSERTIONS_H

#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

/* The name and the reason of the exception body raises ("" for none). */
template <typename Body>
static std::pair<std::string, std::string>
Raised(Body body)
{
    @try {
	body();
    } @catch (NSException *exception) {
	return { [[exception name] UTF8String], [[exception reason] UTF8String] };
    }
    return { "", "" };
}

/* Whether two objects are equal (isEqual:), saying what they are. */
static inline testing::AssertionResult
Equal(id expected, id actual)
{
    if (expected == actual || (expected != nil && [expected isEqual: actual])) {
	return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "expected " << [[expected description] UTF8String]
	<< ", got " << (actual != nil ? [[actual description] UTF8String] : "nil");
}

#endif /* OBJECT_ASSERTIONS_H */
