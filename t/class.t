# Class objects by name, the Perl packages of the runtime's classes, and
# packages of the same names that the program defines itself.
use strict;
use warnings;

my @compileWarnings;
BEGIN { $SIG{__WARN__} = sub { push @compileWarnings, @_ } }

# Before the module loads: List::Util makes a List:: namespace that only
# holds another package, and the program defines a package Protocol.
use List::Util ();
BEGIN {
    package Protocol;
    sub new { bless { made => 'by Perl' }, shift }
}

use Test::More;
use Scalar::Util qw(refaddr);

use Vantle;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(message error_of warnings_of);

# After it has loaded: a package Object with subs, a package NilMarker
# with its own AUTOLOAD.
package Object {
    sub new { bless {}, shift }
    sub name { 'mine' }
}
package NilMarker {
    our $AUTOLOAD;
    sub AUTOLOAD { $AUTOLOAD =~ /::DESTROY\z/ ? () : "autoloaded $AUTOLOAD" }
}
BEGIN { delete $SIG{__WARN__} }

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

subtest 'packages the program defines are its own' => sub {
    is(Protocol->new->{made}, 'by Perl', 'one defined before the module loaded');
    is(Object->name, 'mine', 'one defined after');
    is(NilMarker->anything, 'autoloaded NilMarker::anything', 'with its own AUTOLOAD');
    is_deeply(\@compileWarnings, [], 'defined without a warning');
    for my $package (qw(Protocol Object)) {
	is(error_of(sub { $package->alloc }),
	   qq{Can't locate object method "alloc" via package "$package"},
	   "$package: a method it lacks is Perl's error, not a message");
	ok(!defined $package->can('alloc') && !$package->isa('NSObject'),
	   "$package: Perl's can and isa");
	is_deeply([warnings_of(sub { my $object = bless {}, $package; undef $object })], [],
		  "$package: its objects go without a DESTROY");
    }
    is(Vantle::class('Object') . '', 'Object', 'the class stays reachable by Vantle::class');
};

subtest 'class packages' => sub {
    my $list = List->new;
    is($list->count, 0, 'a namespace that only held other packages is the class\'s');
    $list->free;
    ok(NSObject->isa('NSObject') && NSObject->can('new'), 'it answers for the class');
    is_deeply([warnings_of(sub { NSObject->DESTROY })], [], 'DESTROY is never a message');
    package My::Array { our @ISA = ('NSMutableArray') }
    is(error_of(sub { My::Array->array }),
       q{Can't locate object method "array" via package "My::Array"},
       'a package inheriting from one is no class');
};

done_testing();
