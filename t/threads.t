#!/usr/bin/perl
# Threads and fork: every interpreter has the module's state of its own,
# handles stay in the interpreter that made them, and a thread that uses
# the module works while others do.  Each case runs in a child perl.
use strict;
use warnings;
use Config;
use FindBin;
use lib "$FindBin::Bin/lib";
use Test::More;
use ChildPerl qw(run_perl);

plan skip_all => 'perl without threads' unless $Config{useithreads};

# Runs code in a child perl; passes when it exits 0 and printed exactly
# the expected text.
sub child_is {
    my ($code, $expected, $name, $prelude) = @_;
    $prelude //= 'use threads; use Scalar::Util; use Vantle;';
    my ($status, $output) = run_perl("$prelude\n$code");
    is($output, $expected, $name) && is($status, 0, "$name: exit status")
        or diag("exit status $status");
}

child_is(<<'PERL', "3 abc 7\n", 'a thread sends messages and converts values');
my $t = threads->create(sub {
    my $a = NSMutableArray->array;
    $a->addObject_($_) for qw(a b c);
    my $d = NSMutableDictionary->dictionary;
    $d->setObject_forKey_(7, "seven");
    return join ' ', $a->count, join('', @{ Vantle::pl($a) }), Vantle::pl($d)->{seven};
});
print $t->join, "\n";
PERL

child_is(<<'PERL', "undef in thread\nthread made 5\nparent still 11\n", 'handles are not cloned into a new thread');
my $s = NSString->stringWithCString_("parent text");
my $t = threads->create(sub {
    my $made = NSString->stringWithCString_("fresh");
    return ((defined $s && Scalar::Util::blessed($s)) ? "cloned" : "undef") . " in thread\n"
        . "thread made " . $made->length . "\n";
});
print $t->join;
print "parent still ", $s->length, "\n";
PERL

child_is(<<'PERL', "ok\n", 'each thread has its own interpreter object');
my $parent = "$Vantle::interp";
my $t = threads->create(sub {
    return 'no interp' unless defined $Vantle::interp && Scalar::Util::blessed($Vantle::interp);
    return 'same interp' if "$Vantle::interp" eq $parent;
    my $code = 0;
    my $r = $Vantle::interp->eval_errorCode_("6 * 7", undef);
    my $value = $r->intValue;
    $r->free;
    return "eval gave $value";
});
my $got = $t->join;
print $got eq 'eval gave 42' ? "ok\n" : "$got\n";
PERL

child_is(<<'PERL', "4000 4000 4000\n", 'threads send messages at the same time');
my $work = sub {
    my $total = 0;
    for my $round (1 .. 20) {
        my $pool = NSAutoreleasePool->new;
        my $a = NSMutableArray->array;
        $a->addObject_(NSNumber->numberWithInt_($_)) for 1 .. 200;
        $total += $a->count;
        my $copy = Vantle::obj(Vantle::pl($a));
        $pool->release;
    }
    return $total;
};
my @threads = map { threads->create($work) } 1 .. 2;
my $mine = $work->();
print join(' ', (map { $_->join } @threads), $mine), "\n";
PERL

child_is(<<'PERL', "a=2 3 isa\n", 'views, operators and isa in a thread');
my $t = threads->create(sub {
    my $d = NSMutableDictionary->dictionary;
    $d->{a} = 1;
    $d->{a}++;
    my $a = NSMutableArray->array;
    push @$a, 1, 2, 3;
    my @pairs;
    while (my ($k, $v) = each %$d) { push @pairs, "$k=$v" }
    return join(',', @pairs) . ' ' . scalar(@$a) . ' ' . ($a->isa('NSArray') ? 'isa' : 'no');
});
print $t->join, "\n";
PERL

child_is(<<'PERL', "ok ok ok\n", 'threads meet method names for the first time at once');
my @names = qw(length uppercaseString lowercaseString capitalizedString description
               hash lastPathComponent pathExtension retainCount isProxy self class
               superclass);
my $work = sub {
    my $s = NSString->stringWithCString_("Mixed Case");
    for my $round (1 .. 30) {
        for my $name (@names) {
            my $r = $s->$name;
            return "round $round $name gave undef" unless defined $r;
        }
        my $e = eval { $s->noSuchMethodHere; 1 } ? 'sent' : $@;
        return "unknown method: $e" unless $e =~ /does not respond to/;
    }
    return 'ok';
};
my @threads = map { threads->create($work) } 1 .. 2;
print join(' ', (map { $_->join } @threads), $work->()), "\n";
PERL

child_is(<<'PERL', "typed pointers stay home\n", 'typed pointers are not cloned either');
my $p = Vantle::Ptr::new('int *');
Vantle::Ptr::malloc($p);
my $t = threads->create(sub { Scalar::Util::blessed($p) ? "cloned" : "typed pointers stay home" });
print $t->join, "\n";
Vantle::Ptr::free($p);
PERL

child_is(<<'PERL', "child 5\nparent 6\n", 'fork keeps working');
my $s = NSString->stringWithCString_("fork!");
my $pid = fork // die "fork: $!";
if ($pid == 0) {
    my $again = NSString->stringWithCString_("child");
    print "child ", $again->length, "\n";
    exit 0;
}
waitpid($pid, 0);
print "parent ", NSString->stringWithCString_("parent")->length, "\n";
PERL

child_is(<<'PERL', "3\n", 'a thread that loads the module itself',
my $t = threads->create(sub {
    require Vantle;
    return NSString->stringWithCString_("abc")->length;
});
print $t->join, "\n";
PERL
    'use threads;');

done_testing;
