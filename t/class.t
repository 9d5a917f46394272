# Class objects by name.
use strict;
use warnings;
use Test::More;
use Scalar::Util qw(refaddr);

use Vantle;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(message);

my $class = Vantle::class('NSObject');
is(ref($class), 'Vantle::Object', 'a handle');
is(refaddr($class), refaddr(Vantle::class_lookup('NSObject')),
    'class and class_lookup give handles of one referent');
ok(Vantle::class('NSObject') == NSObject->class, 'of the class object');

for my $name (qw(nil NIL Nil)) {
    ok(Vantle::nil(Vantle::class($name)) && ref(Vantle::class($name)),
        "class('$name') is the nil handle");
}
is(Vantle::class_lookup('nil'), 0, 'class_lookup gives nil no special meaning');

ok(!eval { Vantle::class('NoSuchClassHere'); 1 }, 'an unknown name');
is(message($@), 'Vantle::class: no class NoSuchClassHere', 'croaks with the name');
my $none = Vantle::class_lookup('NoSuchClassHere');
ok(!ref($none) && $none eq '0', 'class_lookup answers the plain 0');
is(Vantle::class_lookup("NSObject\0junk"), 0, 'a name with a NUL names no class');

for my $case (['class', []], ['class', ['a', 'b']], ['class_lookup', []],
              ['class_lookup', ['a', 'b']]) {
    my ($sub, $args) = @$case;
    no strict 'refs';
    ok(!eval { &{"Vantle::$sub"}(@$args); 1 }, "$sub with " . @$args . ' arguments');
    is(message($@), "Usage: Vantle::$sub(classname)", 'usage message');
}

done_testing();
