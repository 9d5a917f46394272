/*
 * PerlBindingTest.mm --
 *
 *	The Perl binding's C interface, seen from host code: handles made and
 *	read from C, checks Perl code cannot reach (invalid pointers, class
 *	and metaclass checks, the converter hooks), and Foundation exceptions
 *	raised while converting.  One Perl interpreter is embedded for the
 *	whole program (EmbeddedPerl.h).
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "VantlePriv.h"
#include "PerlContext.h"
#include "EmbeddedPerl.h"
#include "BqOsmo.h"

#include <string>

/* An array whose elements cannot be read: every access raises. */
@interface UnreadableArray : NSArray
@end

@implementation UnreadableArray
- (NSUInteger) count
{
    return 1;
}

- (id) objectAtIndex: (NSUInteger)index
{
    [NSException raise: NSRangeException format: @"unreadable element %lu",
	(unsigned long) index];
    return nil;
}
@end

namespace {

class PerlBinding : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    Tcl_DString errors;
    NSAutoreleasePool *pool;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	BqCPerl_SetInterp(my_perl);
	Tcl_DStringInit(&errors);
	pool = [[NSAutoreleasePool alloc] init];
	ENTER;
	SAVETMPS;
    }

    void TearDown() override
    {
	FREETMPS;
	LEAVE;
	[pool release];
	Tcl_DStringFree(&errors);
    }

    std::string Errors()
    {
	return Tcl_DStringValue(&errors);
    }

    SV *Handle(id object)
    {
	SV *sv = sv_newmortal();
	EXPECT_TRUE(Vantle_SVSetObject(sv, object, &errors)) << Errors();
	return sv;
    }
};

TEST_F(PerlBinding, HandlesOfOneObjectShareTheirReferent)
{
    NSObject *object = [[[NSObject alloc] init] autorelease];
    SV *first = Handle(object);
    SV *second = Handle(object);
    ASSERT_TRUE(SvROK(first));
    EXPECT_EQ(SvRV(first), SvRV(second));
    EXPECT_EQ(2u, SvREFCNT(SvRV(first)));
    EXPECT_TRUE(SvREADONLY(SvRV(first)));

    SV *looked = sv_newmortal();
    EXPECT_TRUE(Vantle_SVLookupObject(looked, object));
    EXPECT_EQ(SvRV(first), SvRV(looked));

    char failed = 1;
    EXPECT_EQ(object, Vantle_SVGetObject2(second, &errors, &failed));
    EXPECT_EQ(0, failed);
}

TEST_F(PerlBinding, ResettingTheOnlyHandleKeepsItsReferent)
{
    NSObject *object = [[[NSObject alloc] init] autorelease];
    SV *handle = Handle(object);
    SV *referent = SvRV(handle);
    ASSERT_EQ(1u, SvREFCNT(referent));
    EXPECT_TRUE(Vantle_SVSetObject(handle, object, &errors));
    EXPECT_EQ(referent, SvRV(handle));
    EXPECT_EQ(1u, SvREFCNT(referent));
    EXPECT_EQ(object, Vantle_SVGetObject2(handle, NULL, NULL));
}

TEST_F(PerlBinding, LookupNeverMakesAReferent)
{
    NSObject *object = [[[NSObject alloc] init] autorelease];
    SV *sv = sv_2mortal(newSViv(7));
    EXPECT_FALSE(Vantle_SVLookupObject(sv, object));
    EXPECT_EQ(7, SvIV(sv));
}

TEST_F(PerlBinding, ReleasedObjectLeavesDeallocatedHandles)
{
    NSObject *object = [[NSObject alloc] init];
    SV *handle = Handle(object);
    SV *referent = SvRV(handle);
    [object release];
    EXPECT_EQ(-1, SvIV(referent));
    EXPECT_TRUE(SvREADONLY(referent));
    char failed = 0;
    EXPECT_EQ(nil, Vantle_SVGetObject2(handle, &errors, &failed));
    EXPECT_EQ(1, failed);
    EXPECT_EQ("Dealloc'ed object", Errors());
    EXPECT_FALSE(Vantle_SVLookupObject(sv_newmortal(), object));
}

TEST_F(PerlBinding, InvalidPointersMakeNoHandle)
{
    SV *sv = sv_2mortal(newSVpvs("before"));
    EXPECT_FALSE(Vantle_SVSetObject(sv, (id) (uintptr_t) 0x1003, &errors));
    EXPECT_FALSE(SvOK(sv));
    EXPECT_EQ("Illegal id pointer", Errors());

    Tcl_DStringSetLength(&errors, 0);
    EXPECT_FALSE(Vantle_SVSetObject(sv, (id) (uintptr_t) 0x1000, &errors));
    EXPECT_EQ("Not an object nor a class", Errors());
}

TEST_F(PerlBinding, WithoutTheCheckAnyPointerMakesAHandle)
{
    unsigned char saved = BQ_CONTROL(bad_object_check);
    BQ_CONTROL(bad_object_check) = 0;
    id fake = (id) (uintptr_t) 0x1000;
    SV *sv = newSV(0);
    EXPECT_TRUE(Vantle_SVSetObject(sv, fake, &errors));
    EXPECT_EQ(fake, Vantle_SVGetObject2(sv, NULL, NULL));
    BQ_CONTROL(bad_object_check) = saved;
    SvREFCNT_dec(sv);	/* the last handle: DESTROY forgets the pointer */
    EXPECT_FALSE(Vantle_SVLookupObject(sv_newmortal(), fake));
}

TEST_F(PerlBinding, ClassesAndMetaclasses)
{
    char failed = 0;
    Class nsObject = [NSObject class];
    SV *name = sv_2mortal(newSVpvs("NSObject"));
    EXPECT_EQ((id) nsObject, Vantle_SVGetClass2(name, &errors, &failed, 0));
    EXPECT_EQ(0, failed);

    SV *instance = Handle([[[NSObject alloc] init] autorelease]);
    EXPECT_EQ(nil, Vantle_SVGetClass2(instance, &errors, &failed, 1));
    EXPECT_EQ(1, failed);
    EXPECT_EQ("not a class", Errors());

    Tcl_DStringSetLength(&errors, 0);
    SV *meta = Handle((id) object_getClass((id) nsObject));
    EXPECT_EQ(nil, Vantle_SVGetClass2(meta, &errors, &failed, 0));
    EXPECT_EQ("class is metaclass", Errors());
    EXPECT_EQ((id) object_getClass((id) nsObject), Vantle_SVGetClass2(meta, NULL, &failed, 1));
    EXPECT_EQ(0, failed);

    EXPECT_EQ(nil, Vantle_SVGetClass2(&PL_sv_undef, NULL, &failed, 0));
    EXPECT_EQ(0, failed);
}

TEST_F(PerlBinding, NilAndObjectTests)
{
    EXPECT_TRUE(Vantle_SVIsNil(NULL));
    EXPECT_TRUE(Vantle_SVIsNil(Handle(nil)));
    EXPECT_TRUE(Vantle_SVIsObject(&PL_sv_no));
    EXPECT_FALSE(Vantle_SVIsObject(sv_2mortal(newSVpvs("NSObject"))));
    EXPECT_FALSE(Vantle_SVIsNil(Handle([NSObject class])));
    char failed = 1;
    EXPECT_EQ(nil, Vantle_ObjectForSV(NULL, &errors, &failed));
    EXPECT_EQ(0, failed);
}

TEST_F(PerlBinding, ContainerFillingChecksItsArguments)
{
    EXPECT_FALSE(Vantle_AVForArray(NULL, [NSArray array], &errors));
    EXPECT_EQ("NULL array", Errors());
    Tcl_DStringSetLength(&errors, 0);
    AV *av = (AV *) sv_2mortal((SV *) newAV());
    av_push(av, newSViv(1));
    EXPECT_FALSE(Vantle_AVForArray(av, @"text", &errors));
    EXPECT_EQ("not an NSArray instance", Errors());
    EXPECT_TRUE(Vantle_AVForArray(av, nil, &errors));
    EXPECT_EQ(-1, av_len(av));

    Tcl_DStringSetLength(&errors, 0);
    EXPECT_FALSE(Vantle_HVForDictionary(NULL, [NSDictionary dictionary], &errors));
    EXPECT_EQ("NULL hash", Errors());
    Tcl_DStringSetLength(&errors, 0);
    HV *hv = (HV *) sv_2mortal((SV *) newHV());
    EXPECT_FALSE(Vantle_HVForDictionary(hv, [NSArray array], &errors));
    EXPECT_EQ("not an NSDictionary instance", Errors());
}

TEST_F(PerlBinding, NumberKeysBecomeTheirDescriptions)
{
    NSDictionary *dictionary = [NSDictionary dictionaryWithObjectsAndKeys:
	@"one", [NSNumber numberWithInt: 1], @"two", [NSNumber numberWithInt: 2], nil];
    HV *hv = (HV *) sv_2mortal((SV *) newHV());
    ASSERT_TRUE(Vantle_HVForDictionary(hv, dictionary, &errors)) << Errors();
    SV **one = hv_fetchs(hv, "1", 0);
    ASSERT_TRUE(one != NULL);
    EXPECT_STREQ("one", SvPV_nolen(*one));
    EXPECT_TRUE(hv_exists(hv, "2", 1));
}

TEST_F(PerlBinding, ExceptionsWhileConvertingBecomeMessages)
{
    UnreadableArray *array = [[[UnreadableArray alloc] init] autorelease];
    SV *sv = sv_newmortal();
    EXPECT_FALSE(Vantle_SVForObject(sv, array, &errors));
    EXPECT_EQ("[NSException NSRangeException]: unreadable element 0", Errors());
    EXPECT_EQ(0, VantlePriv_Context(aTHX)->objectToPerlDepth);

    Tcl_DStringSetLength(&errors, 0);
    NSArray *outer = [NSArray arrayWithObject: array];
    EXPECT_FALSE(Vantle_SVForObject(sv, outer, &errors));
    EXPECT_EQ("[NSException NSRangeException]: unreadable element 0", Errors());
    EXPECT_EQ(0, VantlePriv_Context(aTHX)->objectToPerlDepth);
}

int objectHookCalls;
int perlHookCalls;

id
CountingObjectHook(SV *sv, Tcl_DString *errors, char *errorFlag)
{
    objectHookCalls++;
    return Vantle_ObjectForSV_Default(sv, errors, errorFlag);
}

int
CountingPerlHook(SV *sv, id object, Tcl_DString *errors)
{
    perlHookCalls++;
    return Vantle_SVForObject_Default(sv, object, errors);
}

TEST_F(PerlBinding, HooksSeeNestedConversionsToo)
{
    objectHookCalls = perlHookCalls = 0;
    Vantle_ObjectForSVHook = CountingObjectHook;
    Vantle_SVForObjectHook = CountingPerlHook;

    AV *inner = newAV();
    av_push(inner, newSViv(1));
    av_push(inner, newSVpvs("two"));
    AV *outer = (AV *) sv_2mortal((SV *) newAV());
    av_push(outer, newRV_noinc((SV *) inner));
    SV *reference = sv_2mortal(newRV_inc((SV *) outer));
    char failed = 0;
    id object = Vantle_ObjectForSV(reference, &errors, &failed);
    EXPECT_EQ(0, failed) << Errors();
    EXPECT_EQ(4, objectHookCalls);	/* outer, inner and two scalars */

    SV *back = sv_newmortal();
    EXPECT_TRUE(Vantle_SVForObject(back, object, &errors)) << Errors();
    EXPECT_EQ(4, perlHookCalls);

    Vantle_ObjectForSVHook = NULL;
    Vantle_SVForObjectHook = NULL;
}

TEST_F(PerlBinding, DereferencingAReferentTiesToAHandle)
{
    SV *handle = Handle([NSObject class]);
    dSP;
    PUSHMARK(SP);
    XPUSHs(SvRV(handle));
    PUTBACK;
    ASSERT_EQ(1, call_pv("Vantle::Hook::rv2hv", G_SCALAR));
    SPAGAIN;
    SV *result = POPs;
    PUTBACK;
    ASSERT_TRUE(SvROK(result));
    ASSERT_EQ(SVt_PVHV, SvTYPE(SvRV(result)));
    MAGIC *tie = mg_find(SvRV(result), PERL_MAGIC_tied);
    ASSERT_TRUE(tie != NULL);
    EXPECT_EQ(SvRV(handle), SvRV(tie->mg_obj));
}

}  // namespace
