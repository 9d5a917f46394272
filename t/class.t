# Classes defined in Perl (Vantle::Class): Objective-C classes whose
# methods are Perl subs, used from Perl and by Foundation code that calls
# back into them.
use strict;
use warnings;
use Test::More;
use File::Temp qw(tempdir);
use Vantle;

package Tally {
    use Vantle::Class 'Tally',
        superclass => 'NSObject',
        ivars      => ['int count', 'NSString *label', 'double weight'],
        protocols  => ['NSCopying'];

    our @log;

    sub init : Method {
        my ($self) = @_;
        $self = Vantle::super->init or return;
        $self->{count} = 0;
        return $self;
    }
    sub initWithCount_ : Method('id initWithCount: (int) n') {
        my ($self, $n) = @_;
        $self = $self->init;
        $self->{count} = $n;
        return $self;
    }
    sub tallyWithCount_ : ClassMethod('+ (id) tallyWithCount: (int) n') {
        my ($class, $n) = @_;
        return $class->alloc->initWithCount_($n)->autorelease;
    }
    sub increment : Method('int increment') { ++$_[0]->{count} }
    sub add : Method('int add: (int) a to: (int) b') { $_[1] + $_[2] }
    sub name : Method('char * name') { my $name = "tally-$_[0]->{count}"; $name }
    sub scaled : Method('double scaled: (double) f') { $_[0]->{count} * $_[1] }
    sub description : Method { "<Tally $_[0]->{count}>" }
    sub isEqual_ : Method {
        my ($self, $other) = @_;
        return $other->isKindOfClass_(Vantle::class('Tally')) && $other->{count} == $self->{count};
    }
    sub hash : Method { $_[0]->{count} }
    sub compare_ : Method { $_[0]->{count} <=> $_[1]->{count} }
    sub copyWithZone_ : Method { Tally->alloc->initWithCount_($_[0]->{count}) }
    sub moved : Method('struct pt { int x; int y; } moved: (struct pt { int x; int y; }) p by: (int) d') {
        my ($self, $p, $d) = @_;
        return { x => $p->{x} + $d, y => $p->{y} - $d };
    }
    sub pair_ : Method { [$_[1], $_[1]] }        # new selector: objects only
    sub superDescription : Method('id superDescription') { Vantle::super->description }
    sub viaSuper : Method('id viaSuper') { $_[0]->SUPER::description }
    sub dealloc : Method {
        my ($self) = @_;
        push @log, "dealloc $self->{count} data=" . join(',', sort keys %{ $self->perl_data });
    }
}

package Marker {
    # Records its own destruction, to see when Perl data goes.
    sub new { my ($class, $log) = @_; bless { log => $log }, $class }
    sub DESTROY { push @{ $_[0]{log} }, 'marker freed' }
}

sub signature_of {
    my ($class, $selector) = @_;
    my $signature = Vantle::class($class)->instanceMethodSignatureForSelector_($selector);
    return join '', map { $signature->getArgumentTypeAtIndex_($_) }
        0 .. $signature->numberOfArguments - 1;
}

subtest 'a class from Perl, used from Perl' => sub {
    ok(Vantle::class_lookup('Tally'), 'the runtime knows the class');
    my $t = Tally->alloc->init;
    isa_ok($t, 'Tally');
    isa_ok($t, 'NSObject');
    is($t->increment, 1, 'a method with a declared int result');
    is($t->increment, 2, '... that keeps state in an instance variable');
    is($t->add_to_(40, 2), 42, 'two int arguments');
    is($t->scaled_(1.5), 3, 'double argument and result');
    is($t->name, 'tally-2', 'a C string result outlives the Perl value it came from');
    is($t->description, '<Tally 2>', 'description overridden');
    is($t->valueForKey_('count'), 2, 'key-value coding reads the instance variable');
    $t->{label} = 'x';
    is($t->{label}, 'x', 'an object instance variable');
    my $made = Tally->tallyWithCount_(7);
    is($made->{count}, 7, 'a class method');
    ok(Tally->respondsToSelector_('tallyWithCount:'), 'the class answers its class method');
    is(Tally->can('increment'), \&Tally::increment, "Perl's can sees the package's subs");
    ok(Tally->DOES('NSCopying'), 'the adopted protocol');
    is($t->copy->autorelease->{count}, 2, 'copy goes through the protocol method');
    $t->release;
};

subtest 'method types' => sub {
    is(signature_of('Tally', 'add:to:'), '@:ii', 'declared');
    like(signature_of('Tally', 'description'), qr/\A\@:\z/, 'inherited from NSObject');
    like(signature_of('Tally', 'copyWithZone:'), qr/\A\@:\^\{_NSZone\b/, 'from the protocol');
    is(signature_of('Tally', 'pair:'), '@:@', 'objects only for a new selector');
    my $t = Tally->new;
    my $pair = $t->pair_('a');
    is($pair->count, 2, 'an array reference came back as an array');
    $t->release;
};

subtest 'Foundation calls back into Perl' => sub {
    my @tallies = map { Tally->alloc->initWithCount_($_)->autorelease } 3, 1, 2, 1;
    my $set = NSMutableSet->set;
    $set->addObject_($_) for @tallies;
    is($set->count, 3, 'isEqual: and hash decide set membership');
    ok($set->containsObject_(Tally->tallyWithCount_(2)), 'an equal new instance is found');
    my $array = NSMutableArray->array;
    $array->addObject_($_) for @tallies;
    my $sorted = $array->sortedArrayUsingSelector_('compare:');
    is(join(' ', map { $sorted->objectAtIndex_($_)->{count} } 0 .. $sorted->count - 1),
        '1 1 2 3', 'compare: sorts an array');
    is($array->description =~ tr/<//, 4, 'the array describes its elements through Perl');
};

subtest 'structures' => sub {
    my $t = Tally->new;
    my $p = $t->moved_by_({ x => 10, y => 20 }, 3);
    is_deeply([$p->{x}, $p->{y}], [13, 17], 'a structure argument and result');
    my $signature = $t->methodSignatureForSelector_('moved:by:');
    is($signature->methodReturnLength, 8, "Foundation reads the method's types");
    ok(NSInvocation->invocationWithMethodSignature_($signature), '... and can build an invocation');
    $t->release;
};

subtest 'C strings, selectors and pointers' => sub {
    package Typed {
        use Vantle::Class 'Typed';
        sub lengthOf : Method('int lengthOf: (char *) text') { length $_[1] }
        sub nameOf : Method('char * nameOf: (SEL) selector') { "selector $_[1]" }
        sub selectorFor : Method('SEL selectorFor: (id) name') { "$_[1]" }
        sub readInt : Method('int readInt: (int *) pointer') { $_[1]->FETCH }
        sub pointerType : Method('id pointerType: (int *) pointer') { $_[1]->type }
    }
    my $t = Typed->new;
    is($t->lengthOf_('four'), 4, 'a C string argument');
    is($t->nameOf_('count'), 'selector count', 'a selector argument, a C string result');
    is($t->selectorFor_('add:to:'), 'add:to:', 'a selector result');
    my $pointer = Vantle::Ptr::malloc(Vantle::Ptr::new('int *'));
    $pointer->STORE(41);
    is($t->readInt_($pointer), 41, 'a typed pointer argument reads its target');
    is($t->pointerType_($pointer), '^i', '... and keeps its type');
    $pointer->free;
    $t->release;
};

subtest 'super' => sub {
    my $t = Tally->new;
    like($t->superDescription, qr/\A<Tally: ?0x[0-9a-f]+>\z/, 'Vantle::super reaches NSObject');
    like($t->viaSuper, qr/\A<Tally: ?0x[0-9a-f]+>\z/, 'so does SUPER::');
    eval { Vantle::super->description };
    like($@, qr/^Vantle::msg_send_super: invoked outside method/, 'no method, no super');
    $t->release;
};

subtest 'dealloc and Perl data' => sub {
    @Tally::log = ();
    my $t = Tally->alloc->initWithCount_(5);
    $t->perl_data->{marker} = Marker->new(\@Tally::log);
    $t->perl_data->{n} = 1;
    is($t->perl_data->{n}, 1, 'the same hash every time');
    $t->release;
    is_deeply(\@Tally::log, ['dealloc 5 data=marker,n', 'marker freed'],
        'the Perl dealloc runs, then the data is freed');
    ok(!eval { $t->description; 1 }, 'the handle reads as freed');
    like($@, qr/Dealloc'ed object/, '... and says so');
    eval { NSObject->new->autorelease->perl_data };
    like($@, qr/perl_data: NSObject is not an instance of a class defined in Perl/,
        'perl_data of other objects');
};

package Failing {
    use Vantle::Class 'Failing', ivars => ['int mode'];
    sub compare_ : Method {
        my ($self, $other) = @_;
        die "no order\n" if $self->{mode} == 1;
        NSArray->array->objectAtIndex_(4) if $self->{mode} == 2;
        if ($self->{mode} == 3) {
            return eval { NSArray->array->objectAtIndex_(4); 1 } ? 0 : -1;
        }
        return 0;
    }
    sub count : Method('int count') { 'many' }
    sub where : Method('struct pt { int x; int y; } where') { 5 }
}

subtest 'errors between the two sides' => sub {
    my $array = NSMutableArray->array;
    my @items = map { my $f = Failing->new; $array->addObject_($f); $f->release; $f } 1 .. 3;
    my $sort = sub { $_->{mode} = $_[0] for @items; eval { $array->sortedArrayUsingSelector_('compare:') } };

    ok(!$sort->(1), 'a die in a method called by Foundation');
    like($@, qr/\[NSException Perl Error\]: -\[Failing compare:\]: no order/,
        '... becomes a Perl Error naming the method');
    ok(!$sort->(2), 'an exception a method lets through');
    like($@, qr/\[NSException NSRangeException\]/, '... reaches the caller as itself');
    ok($sort->(3), 'an exception a method catches goes no further');
    ok($sort->(0), 'and the next call works');

    my $f = Failing->new;
    {
        my @warnings;
        local $SIG{__WARN__} = sub { push @warnings, @_ };
        is($f->count, 0, "a result converts as Perl's numbers do");
        like("@warnings", qr/isn't numeric/, '... with its warning');
    }
    eval { $f->where };
    like($@, qr/Perl Error\]: -\[Failing where\]: cannot return the Perl result as \{pt="x"i"y"i\}/,
        'a result its type cannot hold names the method and the type');
    $f->release;
};

subtest 'defining fails cleanly' => sub {
    my @bad = (
        [['NSString'], qr/a class named NSString already exists/],
        [['Bad1', superclass => 'NoSuchClass'], qr/no superclass NoSuchClass for class Bad1/],
        [['Bad2', ivars => ['int x', 'flurb y']], qr/instance variable y of class Bad2: illegal/],
        [['Bad3', ivars => ['int x', 'int x']], qr/instance variable x of class Bad3 is declared twice/],
        [['Bad4', ivars => ['description']], qr/"description" of class Bad4 is not a C declaration/],
        [['Bad5', protocols => ['NoSuchProtocol']], qr/no protocol NoSuchProtocol/],
        [['Bad6', colour => 'red'], qr/unknown option colour for class Bad6/],
        [['My::Bad7'], qr/"My::Bad7" is not a class name/],
    );
    for my $case (@bad) {
        my ($arguments, $message) = @$case;
        ok(!eval { Vantle::Class::define(@$arguments); 1 }, "$arguments->[0] refused");
        like($@, $message, '... with a clear message');
        like($@, qr/ at \Q${\__FILE__}\E line \d+/, '... reported at the caller');
    }
    ok(!Vantle::class_lookup("Bad$_"), "Bad$_ not made") for 1 .. 6;

    my @methods = (
        ['int add: (flurb) a', qr/-\[Tally add:\]: argument 1: illegal itype "flurb"/],
        ['int add: (int) a (', qr/is not a method declaration/],
        ['double add: (int) a to: (int) b', qr/has types i\S+; a defined method keeps its types/],
    );
    for my $case (@methods) {
        ok(!eval { Vantle::Class::add_method('Tally', $case->[0], sub { 1 }); 1 }, $case->[0]);
        like($@, $case->[1], '... refused');
    }
    ok(!eval { Vantle::Class::add_method('NSObject', 'foo', sub { 1 }); 1 }, 'a class not defined here');
    like($@, qr/NSObject is not a class defined in Perl/, '... is left alone');
    ok(!eval q{ package Tally; sub broken : Method('int add: (int) a to') { 1 } 1 }, 'a bad attribute declaration');
    like($@, qr/is not a method declaration .* at \(eval \d+\) line 1/, '... is reported at the sub');
};

subtest 'loading a class file again' => sub {
    my $dir = tempdir(CLEANUP => 1);
    my $file = "$dir/Reloaded.pm";
    my $write = sub {
        my ($body, $ivars) = @_;
        open my $fh, '>', $file or die $!;
        print $fh "package Reloaded;\nuse Vantle::Class 'Reloaded', ivars => [$ivars];\n"
            . "no warnings 'redefine';\n$body\n1;\n";
        close $fh;
        delete $INC{$file};
        return do $file;
    };
    ok($write->(q{sub answer : Method('int answer') { 1 }}, q{'int n'}), 'first load');
    my $r = Reloaded->new;
    is($r->answer, 1, 'the first sub runs');
    ok($write->(q{sub answer : Method('int answer') { 2 } sub other : Method('int other') { 3 }},
        q{'int n'}), 'loaded again after a change');
    is($r->answer, 2, 'an existing instance runs the new sub');
    is($r->other, 3, 'a new method is added');
    ok(!$write->(q{sub answer : Method('int answer') { 4 }}, q{'int n', 'int m'}),
        'new instance variables');
    like($@, qr/class Reloaded has other instance variables/, '... are refused');
    is($r->answer, 2, '... and the class is as it was');
    $r->release;
};

package Animal {
    use Vantle::Class 'Animal', ivars => ['int legs'];
    our @log;
    sub init : Method { my $self = Vantle::super->init; $self->{legs} = 4; $self }
    sub speak : Method('id speak') { 'generic ' . $_[0]->_legs }
    sub _legs { "($_[0]->{legs})" }                  # a plain Perl helper
    sub make : ClassMethod('+ (id) make') { $_[0]->alloc->init->autorelease }
    sub dealloc : Method { push @log, 'Animal ' . join(',', sort keys %{ $_[0]->perl_data }) }
}

package Dog {
    use Vantle::Class 'Dog', superclass => 'Animal', ivars => ['int tricks'];
    sub init : Method { my $self = $_[0]->SUPER::init; $self->{tricks} = 2; $self }
    sub speak : Method { 'woof, ' . Vantle::super->speak }
    sub make : ClassMethod { my $dog = Vantle::super->make; $dog->{tricks} = 3; $dog }
    sub dealloc : Method { push @Animal::log, "Dog $_[0]->{tricks}" }
    sub list { (1, 2, 3) }
}

subtest 'a class defined in Perl under another' => sub {
    @Animal::log = ();
    my $dog = Dog->new;
    is($dog->speak, 'woof, generic (4)', 'super reaches the Perl superclass, which calls a helper');
    is_deeply([sort keys %$dog], [qw(isa legs tricks)], 'the instance variables of both');
    $dog->perl_data->{seen} = 1;
    $dog->release;
    is_deeply(\@Animal::log, ['Dog 2', 'Animal seen'], 'each dealloc runs, the Perl data outlives them');
    my $made = Dog->make;
    ok($made->isKindOfClass_(Vantle::class('Dog')), 'a class method called from Perl runs as a message');
    is($made->{tricks}, 3, '... whose super call reaches the superclass with the subclass');
    is_deeply([$made->list], [1, 2, 3], 'a helper called as a method keeps the list context');
    ok(!eval { Dog->speak; 1 }, 'an instance method called on the class name');
    like($@, qr/does not respond to speak|class Dog does not respond/, '... is a message the class does not answer');
    ok(!eval { $made->nothingHere; 1 }, 'a name with neither method nor sub');
    like($@, qr/Dog does not respond to -nothingHere/, '... fails as a message');
};

package Thrower {
    use Vantle::Class 'Thrower';
    sub compare_ : Method { die Thrower::Error->new }
}
package Thrower::Error {
    use overload '""' => sub { 'a thrown object' };
    sub new { bless {}, shift }
}

subtest 'an error object' => sub {
    my $array = NSMutableArray->array;
    $array->addObject_(Thrower->new->autorelease) for 1 .. 2;
    ok(!eval { $array->sortedArrayUsingSelector_('compare:'); 1 }, 'a method dies with an object');
    like($@, qr/Perl Error\]: -\[Thrower compare:\]: a thrown object/, '... whose string is the reason');
};

subtest 'the receiver argument' => sub {
    package Selfish {
        use Vantle::Class 'Selfish';
        sub replace : Method('id replace') { $_[0] = 1 }
        sub copy_and_change : Method('int copyAndChange') { my $self = shift; $self = 42; $self }
    }
    my $s = Selfish->new;
    is($s->copyAndChange, 42, 'a copy of self is an ordinary variable');
    ok(!eval { $s->replace; 1 }, 'assigning to $_[0] itself');
    like($@, qr/Modification of a read-only value/, '... is refused, not a changed handle');
    isa_ok($s, 'Selfish', 'and the handle is unharmed');
    $s->release;
};

subtest 'answers that run Perl code when read' => sub {
    package Dying::Scalar {
        sub TIESCALAR { bless {}, shift }
        sub FETCH { die "fetch died\n" }
    }
    package Tricky {
        use Vantle::Class 'Tricky';
        sub tiedAnswer : Method('int tiedAnswer') { tie my $t, 'Dying::Scalar'; $t }
        sub inside : Method('id inside') { tie my $t, 'Dying::Scalar'; [1, $t] }
    }
    my $t = Tricky->new;
    for my $method (qw(tiedAnswer inside)) {
        ok(!eval { $t->$method; 1 }, "$method: reading the answer dies");
        like($@, qr/Perl Error\]: -\[Tricky $method\]: .*fetch died/s,
            '... and becomes the Perl Error of the method');
    }
    $t->release;
};

subtest 'many methods' => sub {
    # More than the compiled entries the fastest methods use: the rest
    # run through libffi closures, alike.
    Vantle::Class::define('Many');
    Vantle::Class::add_method('Many', "int m${_}: (int) x", eval "sub { \$_[1] + $_ }")
        for 1 .. 1100;
    my $many = Many->new;
    is(join(' ', map { my $m = "m${_}_"; $many->$m(1) } 1, 500, 1024, 1025, 1100),
        '2 501 1025 1026 1101', 'every method answers');
    $many->release;
};

subtest 'threads' => sub {
    require Config;
    plan skip_all => 'perl without threads' unless $Config::Config{useithreads};
    require threads;
    my $thread = threads->create(sub {
        my $t = Tally->alloc->initWithCount_(4);
        $t->perl_data->{n} = 1;
        my $answer = $t->add_to_(1, 2) . ' ' . $t->description;
        $t->release;
        return $answer;
    });
    is($thread->join, '3 <Tally 4>', "a thread's interpreter runs its own copies of the subs");
    my $t = Tally->new;
    is($t->add_to_(2, 2), 4, 'the defining interpreter is unaffected');
    $t->release;
};

done_testing;
