# Handles under Perl's operators.
use strict;
use warnings;
use Test::More;

use Vantle;
use Vantle::TestSupport;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(message warnings_of);
use ChildPerl qw(run_perl);

sub string { NSString->stringWithUTF8String_($_[0]) }
sub number { NSNumber->numberWithDouble_($_[0]) }

my $object = NSObject->new->autorelease;
subtest 'string form' => sub {
    like("$object", qr/^<NSObject:0x([0-9a-f]+)>\z/, 'class and address');
    my ($hex) = "$object" =~ /0x([0-9a-f]+)/;
    { no warnings 'portable'; is(hex($hex), $$object, 'the full address'); }
    SKIP: {
	skip('the object lies below 4 GB (as under valgrind)', 1) if $$object <= 0xffffffff;
	cmp_ok(length($hex), '>', 8, 'wider than 32 bits');
    }
    is('' . NSObject->class, 'NSObject', 'a class: its name');
    my $meta = Vantle::ivar_get(NSObject->class, 'isa');
    is("$meta", '#NSObject', 'a metaclass: its name after #');
    is('' . Vantle::nil(), 'nil', 'nil');
    ok(!defined Vantle::Object::Id_2_Number(Vantle::nil()), 'nil has no number');
    is('' . Vantle::obj("t\x{e9}xt \x{263a}"), "t\x{e9}xt \x{263a}", 'a string object: its text');
    is(0 + number(2.5) + 1, 3.5, 'a number object: its value, fractions kept');
    is(0 + NSNumber->numberWithInt_(-7), -7, 'integers too');
};

subtest 'without perlify_foundation strings and numbers are objects' => sub {
    local $Vantle::CONTROL{perlify_foundation} = 0;
    like('' . string('abc'), qr/^<\w+:0x[0-9a-f]+>\z/, 'printed as objects');
    ok(string('') ? 1 : 0, 'and true even when empty');
    ok(NSNumber->numberWithInt_(0) ? 1 : 0, 'or zero');
};

subtest 'truth' => sub {
    ok($object ? 1 : 0, 'an object is true');
    ok(!Vantle::nil(), 'nil is false');
    for my $false ('', 'False', 'FALSE', 'no', 'No', '0') {
        ok(!string($false), "the string '$false' is false");
    }
    for my $true ('yes', 'true', '00', ' ') {
        ok(string($true) ? 1 : 0, "the string '$true' is true");
    }
    ok(!NSNumber->numberWithInt_(0), 'the number 0 is false');
    ok(number(0.5) ? 1 : 0, 'the number 0.5 is true');
};

subtest 'objects compare by identity with ==, by isEqual: with eq' => sub {
    my $array = Vantle::obj([1]);
    my ($same) = @{ Vantle::obj([$array]) };
    ok($array == $same, 'two handles of one object are the same');
    ok(!($array != $same), 'and not different');
    is($array <=> $same, 0, 'and in no order');
    my $other = Vantle::obj([1]);
    ok($array != $other, 'equal arrays are different objects');
    is(($array <=> $other) + ($other <=> $array), 0, 'in one order or the other');
    ok(!!($array < $other) != !!($array > $other), 'which < and > agree on');
    ok($array eq $other, 'but equal');
    ok(!($array ne $other), 'and not unequal');
    is($array cmp $other, 0, 'so cmp finds them the same');
    my $plain = NSObject->new->autorelease;
    ok($plain ne NSObject->new->autorelease, 'objects that are not isEqual: differ');
    isnt($plain cmp NSObject->new->autorelease, 0, 'and cmp tells them apart');
    ok(Vantle::nil() == Vantle::nil(), 'nil is nil');
    ok(Vantle::nil() eq Vantle::nil(), 'and equal to it');
    ok($plain != 0 && $plain != undef && !($plain == 42), 'an object is no plain value');
    ok(Vantle::nil() == 0 && Vantle::nil() == undef, 'false values stand for nil');
    ok(NSObject->class == 'NSObject', 'a class name stands for its class');
    ok(NSObject->class eq 'NSObject', 'and prints as one');
    {
        local $Vantle::CONTROL{perlify_foundation} = 0;
        ok(string('abc') != string('abc'), 'without perlify_foundation strings are objects');
        ok(string('abc') eq string('abc'), 'though they are equal');
        ok(!(NSNumber->numberWithInt_(0) == 0), 'and a zero number is not nil');
    }
    ok(!eval { Vantle::Object::Id_Is_Same($array); 1 }, 'one operand');
    is(message($@), 'Vantle::Object::Id_Is_Same: needs two args', 'croaks');
    ok(!eval { Vantle::Object::Id_Is_Not_Equal($array); 1 }, 'one operand');
    is(message($@), 'Vantle::Object::Id_Is_Not_Equal: needs two args', 'croaks');
};

subtest 'numbers compare as Perl compares numbers' => sub {
    ok(!(number(2.5) == 2.7), '2.5 is not 2.7');
    ok(number(2.5) != 2.7 && number(2.5) < 2.7 && number(2.5) <= 2.7, 'it is less');
    ok(!(number(0.1) == 0.9), '0.1 is not 0.9');
    ok(number(0.1) == 0.1, 'but 0.1');
    is(number(2.5) <=> 2.7, -1, '<=> with a plain number');
    is(2.7 <=> number(2.5), 1, 'the other way round');
    ok(2.7 > number(2.5) && 2.7 >= number(2.5) && !(2.7 < number(2.5)), 'so are < and >');
    ok(number(2.5) < number(2.7), 'two number objects');
    ok(NSNumber->numberWithInt_(3) == number(3.0), 'an integer and a double');
    my $big = NSNumber->numberWithLongLong_(1152921504606846977);
    ok(!($big == 1152921504606846976), 'large integers exactly');
    ok($big == 1152921504606846977 && $big > 1152921504606846976, 'in both directions');
    my $max = NSNumber->numberWithUnsignedLongLong_(18446744073709551615);
    ok($max == 18446744073709551615 && $max > 9223372036854775807, 'unsigned ones too');
    ok(NSNumber->numberWithInt_(-1) < $max, 'and across signs');
    my $nan = number(9**9**9 / -9**9**9);
    ok(!($nan == $nan) && $nan != $nan, 'NaN is equal to nothing');
    ok(!defined($nan <=> 1), 'and in no order');
    ok(NSNumber->numberWithInt_(0) == 0, 'zero is 0');
    ok(NSNumber->numberWithInt_(0) == '0', 'and "0"');
    ok(!(NSNumber->numberWithInt_(0) != 0), 'not different from it');
    ok(string('12') == string('12.0'), 'numeric strings by their numbers');
    ok(string('10') == 10 && string('9') < 10, 'beside plain numbers too');
    my @sorted = sort { $a <=> $b } map { number($_) } 3, 1.5, -2, 10;
    is("@sorted", '-2 1.5 3 10', 'sort { $a <=> $b } sorts number objects');
};

subtest 'strings compare as Perl compares strings' => sub {
    ok(string('') eq '', 'the empty string is ""');
    ok(!(string('') ne ''), 'not different from it');
    ok(string('0') eq '0' && number(0) eq '0', 'and "0" is "0"');
    ok(string('abc') eq 'abc' && string('abc') ne 'abd', 'text against text');
    ok(string('apple') lt 'banana' && string('b') gt 'a', 'lt and gt');
    ok('a' lt string('b') && 'c' ge string('b'), 'the other way round');
    is(string('b') cmp string('a'), 1, 'cmp of two string objects');
    is(number(2.5) cmp '2.5', 0, 'a number as it prints');
    ok(Vantle::obj("t\x{e9}xt \x{263a}") eq "t\x{e9}xt \x{263a}", 'text beyond ASCII');
    my @sorted = sort { $a cmp $b } map { string($_) } qw(pear apple fig);
    is("@sorted", 'apple fig pear', 'sort { $a cmp $b } sorts string objects');
};

subtest 'plain values beside handles warn as Perl warns' => sub {
    my $object = NSObject->new->autorelease;
    is_deeply([warnings_of(sub { my $r = NSNumber->numberWithInt_(5) == undef })],
	['Use of uninitialized value in numeric eq (==)'], 'undef beside a number');
    is_deeply([warnings_of(sub { my $r = string('abc') == 0 })],
	['Argument "abc" isn\'t numeric in numeric eq (==)'], 'a string that is no number');
    is_deeply([warnings_of(sub { my $r = string('x') lt undef })],
	['Use of uninitialized value in string lt'], 'undef beside a string');
    is_deeply([warnings_of(sub { my $r = ($object == undef) + (Vantle::nil() == undef) })], [],
	'undef beside an object stands for nil without a warning');
    no warnings;
    is_deeply([warnings_of(sub { my $r = NSNumber->numberWithInt_(5) == undef })], [],
	'no warnings where they are off');
};

subtest 'deallocated objects' => sub {
    Vantle::TestSupport::push_pool();
    my $dead = NSObject->alloc->init->autorelease;
    my $copy = $dead;
    my $other = NSObject->alloc->init->autorelease;
    Vantle::TestSupport::pop_pool();
    ok($dead != $other && $dead ne $other, 'two dead objects are not the same');
    ok($dead == $copy && $dead eq $copy, 'a dead object is itself');
    ok($dead != Vantle::nil() && $dead != 0, 'and no nil');
};

subtest 'increment and decrement' => sub {
    my $n = NSNumber->numberWithInt_(41);
    my $copy = $n;
    $n++;
    is($n, 42, '++ steps a number object\'s value');
    ok(!ref($n), 'which is now a plain number');
    is(ref($copy), 'Vantle::Object', 'a copy keeps the handle');
    ok($copy == NSNumber->numberWithInt_(41), 'of the same object');
    my $s = string('a9');
    ++$s;
    is($s, 'b0', 'a string object steps as Perl steps strings');
    my $nil = Vantle::nil();
    $nil--;
    is($nil, -1, 'nil counts as 0');
    is(Vantle::Object::Id_Incr(NSNumber->numberWithInt_(3)), 3, 'Id_Incr gives the value to step');
};

subtest 'stepping elements of tied views counts' => sub {
    # In a child perl: a fault here ends the process.
    my ($status, $output) = run_perl(<<'PERL');
use strict;
use warnings;
use Vantle;
my $d = Vantle::obj({ n => 1 });
$d->{n}++;
++$d->{n};
my $old = $d->{n}++;
$d->{n}--;
--$d->{n};
$d->{fresh}++;
my $a = Vantle::obj([5, 'a9']);
$a->[0]++;
$a->[1]++;
my $x = NSNumber->numberWithInt_(7);
$x++;
local $SIG{__WARN__} = sub { print "warning: $_[0]" };
$d->{sum} += 2;
$d->{sum} -= 0.5;
my $stored = $d->objectForKey_('n');
print join(' ', $old, map({ Vantle::pl($d->objectForKey_($_)) } qw(n fresh sum)),
	   $stored->isKindOfClass_(NSNumber->class), @{ Vantle::pl($a) }, $x);
PERL
    is($status, 0, 'without a crash');
    is($output, '3 2 1 1.5 1 6 b0 8',
	'the dictionary and the array hold the stepped values, as numbers');
};

subtest 'bad handles and bad calls' => sub {
    Vantle::TestSupport::push_pool();
    my $dead = NSObject->alloc->init->autorelease;
    Vantle::TestSupport::pop_pool();
    is("$dead", "<BAD OBJECT: Dealloc'ed object>", 'a deallocated object prints as bad');
    ok(!$dead, 'and is false');
    ok(!eval { Vantle::Object::Id_2_String(); 1 }, 'no argument');
    is(message($@), 'Vantle::Object::Id_2_String: no object', 'croaks');
    my @warnings;
    local $SIG{__WARN__} = sub { push @warnings, @_ };
    is(Vantle::Object::Id_2_Number('plain'), 'plain', 'no handle comes back unchanged');
    like($warnings[0], qr/^Vantle::Object::Id_2_Number: not an object at /, 'with a warning');
};

done_testing();
