# Perl's universal methods (isa, can, DOES, VERSION) on handles and on the
# names of runtime classes, and the modules that rely on them.
use strict;
use warnings;
use Test::More;
use Scalar::Util qw(blessed reftype);

use Vantle;
use Vantle::TestSupport;
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(message warnings_of);

my $array = Vantle::obj([1, 2]);			# a GSMutableArray
my $fixed = NSArray->arrayWithObject_('x');		# another kind of NSArray
my $string = NSString->stringWithString_('text');

sub dead_handle {
    Vantle::TestSupport::push_pool();
    my $dead = NSObject->alloc->init->autorelease;
    Vantle::TestSupport::pop_pool();
    return $dead;
}

subtest 'isa' => sub {
    ok($array->isa('NSArray') && $fixed->isa('NSArray'), 'any kind of NSArray is an NSArray');
    ok($array->isa('NSMutableArray') && $array->isa('NSObject'), 'and of its superclasses');
    ok(!$fixed->isa('NSMutableArray') && !$array->isa('NSDictionary'), 'but of no other class');
    ok($array->isa('Vantle::Object'), 'a handle is a Vantle::Object');
    ok($array->isa('SCALAR'), 'and a reference to a scalar, as Perl says');
    ok(!$array->isa('NoSuchClassAnywhere'), 'a name of nothing');
    ok(NSMutableString->isa('NSString') && NSString->isa('NSObject'), 'a class name: its superclasses');
    ok(NSString->isa('NSString') && !NSString->isa('NSMutableString'), 'itself, not its subclasses');
    ok(NSMutableString->class->isa('NSString'), 'a class handle agrees with its name');
    ok(Vantle::nil()->isa('Vantle::Object') && !Vantle::nil()->isa('NSObject'),
       'nil is a handle of no class');
    my $dead = dead_handle();
    ok($dead->isa('Vantle::Object') && !$dead->isa('NSObject'), 'so is a dead one');
    ok($array->isa(NSArray->class), 'a class handle names its class');
};

subtest 'can' => sub {
    my $count = $array->can('count');
    is(ref($count), 'CODE', 'a message the object responds to');
    is($count->($array), 2, 'whose sub sends it');
    is($array->can('objectAtIndex_')->($array, 1), 2, 'with arguments');
    is($count->($fixed), 1, 'to any receiver');
    ok(!defined $array->can('fly'), 'undef for a message it does not respond to');
    ok(!defined NSObject->new->autorelease->can('count'), 'nor does another object, though the sub exists');
    ok(!defined Vantle::nil()->can('count') && !defined dead_handle()->can('count'),
       'nil and dead objects respond to nothing');
    for my $name (qw(isa can DOES VERSION DESTROY FETCH STORE TO_JSON)) {
	no strict 'refs';
	is($array->can($name), \&{"Vantle::Object::$name"}, "Perl's own $name");
    }
    ok($array->can('can')->($array, 'count'), 'which still work');
    my $alloc = NSMutableArray->can('alloc');
    is(ref($alloc), 'CODE', 'a class name: a class message');
    is(ref(NSMutableArray->$alloc->init->autorelease), 'Vantle::Object', 'whose sub sends to that class');
    is(NSString->can('stringWithString_')->('NSString', 'made'), 'made', 'with arguments');
    ok(!defined NSString->can('count'), 'undef for an instance message');
    is(NSString->can('isa'), \&Vantle::RuntimeClass::isa, "Perl's own methods for class names");
    ok(NSString->class->can('stringWithString_') && !defined NSString->class->can('length'),
       'a class handle agrees with its name');
    ok(!defined Vantle::Object->can('count'), 'the handle package itself sends nothing');
    is(Vantle::Object->can('isa'), \&Vantle::Object::isa, 'but has its methods');
};

subtest 'DOES' => sub {
    ok($array->DOES('NSArray') && $array->DOES('Vantle::Object'), 'what it isa');
    ok($array->DOES('NSCopying') && NSArray->DOES('NSCoding'), 'a protocol its class adopts');
    ok(!NSObject->new->autorelease->DOES('NSCoding'), 'not one it does not');
    ok(!$array->DOES('NoSuchProtocolAnywhere'), 'nor a name of nothing');
};

subtest 'VERSION' => sub {
    is(NSString->VERSION, NSString->version, 'a class: its version in the runtime');
    is($string->VERSION, $string->class->version, "a handle: its class's version");
    my $version = NSString->VERSION;
    ok(!eval { NSString->VERSION($version + 1); 1 }, 'a higher version wanted');
    is(message($@), sprintf('NSString version %d required--this is only version %d',
			    $version + 1, $version), 'croaks as Perl does');
    ok(eval { NSString->VERSION($version); 1 }, 'the version itself will do');
    ok(!defined Vantle::nil()->VERSION, 'nil has none');
};

subtest 'modules that ask objects what they are' => sub {
    isa_ok($array, 'NSArray');
    isa_ok('NSMutableArray', 'NSArray');
    can_ok($array, qw(count objectAtIndex_));
    can_ok('NSString', qw(alloc stringWithString_));
    is_deeply([$string, NSNumber->numberWithInt_(3)], ['text', 3], 'is_deeply by value');
    is(blessed($array), 'Vantle::Object', 'blessed');
    is(reftype($array), 'SCALAR', 'reftype');

    require JSON::PP;
    my $json = JSON::PP->new->canonical->convert_blessed;
    my $data = Vantle::obj({ list => [1, 'two', undef], text => 'x' });
    is($json->encode([$data, $string, NSNumber->numberWithDouble_(2.5), Vantle::nil()]),
       '[{"list":[1,"two",null],"text":"x"},"text",2.5,null]', 'JSON::PP: by value');
    like($json->encode([NSObject->new->autorelease]), qr/^\["<NSObject:0x[0-9a-f]+>"\]\z/,
	 'objects without a Perl value as they print');

    require Carp;
    sub confessing { Carp::confess('deep trouble') }
    my @warnings = warnings_of(sub { eval { confessing($array, $string) } });
    like($@, qr/^deep trouble at .*confessing\(Vantle::Object=SCALAR\(0x[0-9a-f]+\), /s,
	 'Carp lists handles among the arguments');
    is_deeply(\@warnings, [], 'without sending them messages');

    require Data::Dumper;
    like(Data::Dumper::Dumper($array), qr/bless\( .*'Vantle::Object' \)/s, 'Data::Dumper');
};

done_testing();
