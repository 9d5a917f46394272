# Object handles: identity, ownership, deallocation, nil, class names and
# the checks that keep a handle from ever yielding a stale pointer.
use strict;
use warnings;
use Test::More;
use B ();
use Scalar::Util qw(refaddr weaken);

use Vantle;
use Vantle::TestSupport;

sub refcount { B::svref_2object($_[0])->REFCNT }

# An object that lives exactly until the innermost test pool is popped:
# conversions answer autoreleased objects, and handles never retain.
sub pooled_array { Vantle::obj([@_]) }

subtest 'all handles of one object share one referent' => sub {
    Vantle::TestSupport::push_pool();
    my $h1 = pooled_array(1, 2);
    is(ref($h1), 'Vantle::Object', 'a handle');
    is(refcount($h1), 1, 'the first handle owns the referent alone');

    my $h2 = Vantle::obj($h1);
    my ($h3) = Vantle::obj($h1);
    is(refaddr($h2), refaddr($h1), 'a second conversion points at the same referent');
    is(refaddr($h3), refaddr($h1), 'so does one in list context');
    is(refcount($h1), 3, 'the count is the number of live handles');
    undef $h3;
    is(refcount($h1), 2, 'dropping a handle gives its count back');
    ok($$h1 > 0 && $$h1 == $$h2, 'the referent holds the object address');
    Vantle::TestSupport::pop_pool();
};

subtest 'the referent is read-only' => sub {
    my $h = Vantle::pl('NSObject');
    my $address = $$h;
    ok(!eval { $$h = 42; 1 }, 'assigning through a handle fails');
    like($@, qr/^Modification of a read-only value attempted/, "with Perl's read-only error");
    is($$h, $address, 'the referent is unchanged');
    my $nil = Vantle::nil();
    ok(!eval { $$nil = 1; 1 }, 'the nil referent is read-only too');
};

subtest 'dropping every handle forgets the object' => sub {
    my $h = Vantle::pl('NSMutableArray');
    my $address = $$h;
    my $weak = $h;
    weaken($weak);
    undef $h;
    ok(!defined $weak, 'the referent is freed with the last handle');

    my $again = Vantle::pl('NSMutableArray');
    is($$again, $address, 'converting the class again gives a handle of it');
    is(refcount($again), 1, 'on a fresh referent');
    is(Vantle::object_is_bad($again) + 0, 0, 'which is usable');
};

subtest 'deallocation while Perl holds handles' => sub {
    Vantle::TestSupport::push_pool();
    my $h = pooled_array('a', 'b');
    my $other = Vantle::obj($h);
    Vantle::TestSupport::pop_pool();

    is($$h, -1, 'the referent reads -1');
    is($$other, -1, 'for every handle of the object');
    my $bad = Vantle::object_is_bad($h);
    is($bad + 0, 1, 'object_is_bad is 1 in numeric context');
    is("$bad", "Dealloc'ed object", 'and names the reason in string context');
    is(Vantle::nil($h), 0, 'a dealloc\'ed handle is an object, not nil');
    ok(!eval { Vantle::obj($h); 1 }, 'converting it back fails');
    like($@, qr/^Vantle::obj: Dealloc'ed object at /, 'with the reason');
    is(refaddr(scalar Vantle::pl($h)), refaddr($h), 'Vantle::pl hands it back unchanged');
    my @list = Vantle::pl($h);
    is(refaddr($list[0]), refaddr($h), 'in list context too');

    Vantle::TestSupport::push_pool();
    my $fresh = pooled_array('c');
    isnt(refaddr($fresh), refaddr($h), 'a new object never shares the dead referent');
    is($$h, -1, 'which still reads -1');
    undef $h;
    undef $other;
    pass('dropping dealloc\'ed handles is harmless');
    Vantle::TestSupport::pop_pool();
};

subtest 'Perl lets go before the runtime does' => sub {
    Vantle::TestSupport::push_pool();
    my $h = pooled_array(1);
    my $weak = $h;
    weaken($weak);
    undef $h;
    ok(!defined $weak, 'the last handle is gone while the object lives');
    Vantle::TestSupport::pop_pool();
    pass('the object is then freed without touching Perl');

    Vantle::TestSupport::push_pool();
    my @many = map { pooled_array($_) } 1 .. 50;
    my @copies = map { Vantle::obj($_) } @many;
    undef @many;
    Vantle::TestSupport::pop_pool();
    is(scalar(grep { $$_ == -1 } @copies), 50, 'handles dropped and kept in any mix stay consistent');
};

subtest 'nil' => sub {
    my $nil = Vantle::nil();
    is(ref($nil), 'Vantle::Object', 'a nil handle');
    is($$nil, 0, 'the nil handle holds 0');
    is(refaddr(Vantle::nil()), refaddr($nil), 'every nil handle shares one referent');
    is(Vantle::nil($nil), 1, 'the nil handle is nil');
    is(Vantle::nil(Vantle::obj(undef)), 1, 'so is the object of undef');
    for my $false (undef, 0, '', '0', 0.0) {
        is(Vantle::nil($false), 1, 'false value ' . (defined $false ? "'$false'" : 'undef') . ' is nil');
    }
    is(Vantle::nil(Vantle::pl('NSObject')), 0, 'a live object is not nil');

    for my $notObject ([], {}, 'NSObject', 42, \1) {
        ok(!eval { Vantle::nil($notObject); 1 }, 'a value that is no object');
        like($@, qr/^Vantle::nil\(obj\): not an object at /, 'croaks');
    }
    ok(!eval { Vantle::nil(1, 2); 1 }, 'two arguments');
    like($@, qr/^Usage: Vantle::nil\(\) or Vantle::nil\(obj\) at /, 'croak with the usage');
};

subtest 'class names stand for classes' => sub {
    my $class = Vantle::pl('NSObject');
    is(ref($class), 'Vantle::Object', 'a class name converts to a handle');
    ok($$class > 0, 'of the class object');
    is(refaddr(Vantle::pl('NSObject')), refaddr($class), 'which is one object like any other');
    is(Vantle::object_is_bad('NSObject') + 0, 0, 'a class name is a usable object');
    isnt(refaddr(Vantle::pl('NSString')), refaddr($class), 'another name, another class');
    is(Vantle::pl('NoSuchClassAnywhere'), 'NoSuchClassAnywhere', 'a name of no class is no object');
    is(Vantle::pl("NSObject\0junk"), "NSObject\0junk", 'nor is a name with a NUL in it');
};

subtest 'object_is_bad' => sub {
    is(Vantle::object_is_bad(Vantle::pl('NSObject')) + 0, 0, 'a live handle is fine');
    is(Vantle::object_is_bad(undef) + 0, 0, 'nil is fine');
    for my $value ('NoSuchClassAnywhere', 42, []) {
        my $bad = Vantle::object_is_bad($value);
        is($bad + 0, 1, 'a value that is no object is bad');
        is("$bad", 'not an object', 'because it is not an object');
    }
    ok(!eval { Vantle::object_is_bad(); 1 }, 'no argument');
    like($@, qr/^Usage: Vantle::object_is_bad\(obj\) at /, 'croaks with the usage');
};

subtest 'scalars Perl code blessed itself are not handles' => sub {
    my $live = Vantle::pl('NSObject');
    my $copy = $$live;
    my $forged = bless \$copy, 'Vantle::Object';
    is(Vantle::object_is_bad($forged) . '', 'Illegal id', 'a copy of a live address is rejected');
    ok(!eval { Vantle::obj($forged); 1 }, 'and is not converted');
    like($@, qr/^Vantle::obj: Illegal id at /, 'with the reason');

    my $odd = 4097;
    is(Vantle::object_is_bad(bless \$odd, 'Vantle::Object') . '', 'Illegal id', 'a misaligned value');
    my $dead = -1;
    is(Vantle::object_is_bad(bless \$dead, 'Vantle::Object') . '', "Dealloc'ed object",
       'the dealloc\'ed mark');
    is(Vantle::object_is_bad(bless [], 'Vantle::Object') . '', 'Illegal id', 'an array');
    my $text = 'text';
    is(Vantle::object_is_bad(bless \$text, 'Vantle::Object') . '', 'Illegal id', 'a string');

    # Perl code can make its own scalar read-only, but that makes no
    # handle; and a genuine referent's value cannot be forced at all.
    my $made = $$live;
    my $readonly = bless \$made, 'Vantle::Object';
    Internals::SvREADONLY($made, 1);
    is(Vantle::object_is_bad($readonly) . '', 'Illegal id', 'a read-only copy is rejected too');
    my $first = NSObject->new;
    my $second = NSObject->new;
    ok(!eval { Internals::SvREADONLY($$first, 0); $$first = $$second; 1 },
       'a handle\'s value cannot be forced to another object');
    is(Vantle::object_is_bad($first) + 0, 0, 'and the handle stays good');
    $_->release for $first, $second;
    Internals::SvREADONLY($made, 0);
    undef $readonly;

    undef $forged;
    is(Vantle::object_is_bad($live) + 0, 0, 'destroying a forgery leaves the real handle alone');
    is(refaddr(Vantle::pl('NSObject')), refaddr($live), 'and registered');
};

subtest 'a handle made with the validity check off is checked once it is on' => sub {
    ok(!eval { Vantle::TestSupport::non_object(); 1 }, 'a pointer that is no object is refused');
    like($@, qr/^Vantle::TestSupport::non_object: \S/, 'with the reason');
    my $unchecked = do {
        local $Vantle::CONTROL{bad_object_check} = 0;
        Vantle::TestSupport::non_object();
    };
    ok(!eval { $unchecked->description; 1 }, 'a method call on it fails');
    ok(!eval { Vantle::msg_send($unchecked, 'description'); 1 }, 'so does a message');
    like($@, qr/^Not an object nor a class at /, 'with the check\'s reason');
    ok(!eval { Vantle::TestSupport::non_object(); 1 },
        'and the same pointer as a result is still refused while its handle lives');
    my $checked = Vantle::pl('NSObject');
    ok(defined $checked->description, 'a checked object is sent to as before');
};

subtest 'DESTROY' => sub {
    ok(!eval { Vantle::Object::DESTROY(); 1 }, 'no argument');
    like($@, qr/^Usage: Vantle::Object::DESTROY\(obj\) at /, 'croaks with the usage');
    my $class = Vantle::pl('NSObject');
    Vantle::Object::DESTROY('NSObject');
    is(Vantle::object_is_bad($class) + 0, 0, 'a class name is no handle to forget');
};

done_testing();
