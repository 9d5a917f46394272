# Perl objects as runtime objects (BqPerlObject), made and used from Perl
# through the binding: their hash, package variables and methods, the
# objects they keep alive (in a plain hash and in a retaining one), Perl
# errors of their methods, and the end of their hash when the object
# goes.
use strict;
use warnings;
use Test::More;

use Dravik;

package Counter {
    our $made = 0;
    our @log;
    our $destroyed = 0;
    sub bump { my ($self, $by) = @_; $self->{count} += $by; $self->{count} }
    sub pair { return ('one', undef, 'three') }
    sub nothing { return }
    sub fails { die "counter failed\n" }
    sub make { my ($class, $n) = @_; $made++; "$class made $n" }
    sub relay {
        # A BqPerlObject reaches Perl code as its own blessed hash.
        my ($self, $other) = @_;
        return $other->bump(10);
    }
    sub DESTROY { $destroyed++ }
}

sub counter {
    return BqPerlObject->alloc->initInInterp_stashName_magic_($Vantle::interp, 'Counter', 0);
}

sub call {
    my ($object, $name, $arguments, $list) = @_;
    return $object->invokeMethod_withArgs_classMethod_listContext_($name, $arguments, 0,
        $list ? 1 : 0);
}

subtest 'made through the binding, a hash blessed into its package' => sub {
    my $counter = counter();
    isa_ok($counter, 'Vantle::Object');
    is($counter->stashName, 'Counter', 'its package');
    is("" . $counter->description, '<BqPerlObject: Counter>', 'its description');
    ok($counter->interp == $Vantle::interp, 'its interpreter object');
    $counter->setIVar_toValue_('count', 5);
    is($counter->getIVarValue_('count'), 5, 'an instance variable');
    ok($counter->isIVar_('count'), 'which exists');
    is_deeply([Vantle::pl($counter->allIVars)], ['count'], 'and is listed');
    $counter->release;
    is($Counter::destroyed, 1, 'releasing the object frees its hash');
    ok(!eval { BqPerlObject->alloc->initInInterp_stashName_magic_($Vantle::interp, '', 0); 1 },
        'an empty package name');
    like($@, qr/no package name given/, 'is refused');
};

subtest 'methods, in scalar and list context' => sub {
    my $counter = counter();
    $counter->setIVar_toValue_('count', 1);
    is(call($counter, 'bump', [2]), 3, 'a method with an argument');
    is($counter->getIVarValue_('count'), 3, 'which changed the hash');
    is_deeply([Vantle::pl(call($counter, 'pair', [], 1))], ['one', undef, 'three'],
        'a list with undef comes back whole');
    is(call($counter, 'pair', [], 0), 'three', "scalar context is Perl's");
    ok(!call($counter, 'nothing', [], 1), 'no value is nil');
    is($counter->invokeMethod_withArgs_classMethod_listContext_('make', [7], 1, 0),
        'Counter made 7', 'a class method gets the package name');
    my $other = counter();
    is(call($counter, 'relay', [$other]), 10, 'a method calling another object\'s method');
    ok($counter->isInstanceMethod_('bump'), 'isInstanceMethod');
    ok(!$counter->isClassMethod_('nosuch'), 'isClassMethod');
    $_->release for $counter, $other;
};

subtest 'Perl errors come back as Perl errors' => sub {
    my $counter = counter();
    ok(!eval { call($counter, 'fails', []); 1 }, 'a dying method');
    like($@, qr/^\[NSException Perl Error\]: counter failed$/m, 'gives its message');
    ok(!eval { call($counter, 'nosuch', []); 1 }, 'a missing method');
    like($@, qr/No instance method "nosuch" in package Counter/, 'is named');
    ok(!eval { $counter->getCVarValue_('Other::x'); 1 }, 'a qualified class variable');
    like($@, qr/Vantle\/RYF Error.*must not use package name in cvar name/,
        'is refused');
    for (1 .. 200) {
        eval { call($counter, 'fails', [$_]) };
        eval { call($counter, 'nosuch', [$_]) };
    }
    is(call($counter, 'bump', [1]), 1, 'and the next call works');
    $counter->release;
};

subtest 'class variables are the package\'s' => sub {
    my $counter = counter();
    $counter->setCVar_toValue_('made', 12);
    is($Counter::made, 12, 'setCVar sets the package scalar');
    $counter->setCVar_toValue_('@log', ['a', 'b']);
    is_deeply(\@Counter::log, ['a', 'b'], 'and arrays');
    is($counter->getCVarValue_('made'), 12, 'getCVarValue reads a scalar');
    is_deeply([Vantle::pl($counter->getCVarValue_('@log'))], ['a', 'b'], 'and an array');
    ok($counter->isCVar_('@log'), 'isCVar');
    my %names = map { $_ => 1 } Vantle::pl($counter->allCVars);
    ok($names{'$made'} && $names{'@log'} && $names{'$destroyed'}, 'allCVars lists them');
    $counter->release;
};

subtest 'stored objects stay alive while their entries hold them' => sub {
    my $counter = counter();
    my $object = NSObject->alloc->init;
    is($object->retainCount, 1, 'a new object');
    $counter->setIVar_toValue_('thing', $object);
    is($object->retainCount, 2, 'is retained when stored');
    $counter->setIVar_toValue_('other', $object);
    is($object->retainCount, 3, 'once per entry');
    $counter->setIVar_toValue_('thing', $object);
    is($object->retainCount, 3, 'storing it again where it is changes nothing');
    $counter->setIVar_toValue_('thing', undef);
    is($object->retainCount, 2, 'and is let go when replaced');
    ok($counter->getIVarValue_('other') == $object, 'the entry reads as the object');
    $counter->setIVar_toValue_('selfObject', $object);
    is($object->retainCount, 2, 'the owner\'s key keeps nothing');
    $counter->release;
    is($object->retainCount, 1, 'the object let go of all it kept');
    $object->release;
};

subtest 'a retaining hash keeps the objects itself' => sub {
    my $counter = BqPerlObject->alloc->initInInterp_stashName_magic_($Vantle::interp,
        'Counter', 1);
    my $object = NSObject->alloc->init;
    {
        my $pool = Vantle::autorelease_pool;
        $counter->setIVar_toValue_('thing', $object);
        $counter->setIVar_toValue_('count', 4);
    }
    is($object->retainCount, 2, 'the stored object is retained');
    is(call($counter, 'bump', [1]), 5, 'Perl code reads and writes through the tie');
    is($counter->getIVarValue_('count'), 5, 'and the object sees what it wrote');
    is_deeply([sort(Vantle::pl($counter->allIVars))], ['count', 'thing'], 'the entries');
    {
        my $pool = Vantle::autorelease_pool;
        $counter->setIVar_toValue_('thing', undef);
    }
    is($object->retainCount, 1, 'and let go when replaced');
    {
        my $pool = Vantle::autorelease_pool;
        $counter->setIVar_toValue_('thing', $object);
        $counter->release;
    }
    is($object->retainCount, 1, 'or when the object goes');
    $object->release;
};

done_testing;
