# The selector map: Perl names without underscores found among the
# selectors of every class and protocol, and names no selector has, which
# are looked for once until the runtime gains classes or methods.
use strict;
use warnings;
use Test::More;
use File::Temp ();
use FindBin;
use lib "$FindBin::Bin/lib";
use ErrorCapture qw(error_of);
use Vantle;
use Vantle::TestSupport;

$Vantle::CONTROL{perl_selector_map} = 1;

# Runs code with the map's progress report on and standard output going
# to a file; answers how many walks of every class and protocol the code
# made, and its error's message (undef when it lived).
sub walks_and_error_of(&) {
    my ($code) = @_;
    my $file = File::Temp->new;
    open(my $saved, '>&', \*STDOUT) or die "cannot save STDOUT: $!";
    open(STDOUT, '>', $file->filename) or die "cannot redirect STDOUT: $!";
    my $error = do {
	local $Vantle::CONTROL{vantle_verbose} = 1;
	error_of($code);
    };
    open(STDOUT, '>&', $saved) or die "cannot restore STDOUT: $!";
    open(my $in, '<', $file->filename) or die "cannot read the report: $!";
    my $report = do { local $/; <$in> };
    my $walks = () = $report =~ /Collecting SELs/g;
    return ($walks, $error);
}

subtest 'names the map has' => sub {
    my $array = NSMutableArray->array;
    $array->addObject("x");
    $array->insertObjectAtIndex("y", 0);
    is(Vantle::pl($array->componentsJoinedByString(",")), "y,x", 'mapped names send');
    my ($walks) = walks_and_error_of { $array->insertObjectAtIndex("z", 0) };
    is($walks, 0, 'a name found once is not walked for again');
};

subtest 'names no selector has, until the runtime gains them' => sub {
    my $array = NSMutableArray->array;
    my $missing = qr/ does not respond to -vantleLateReply:: /;

    my ($walks, $error) = walks_and_error_of { $array->vantleLateReply("a", "b") };
    is($walks, 1, 'a name the map lacks makes a walk');
    like($error, $missing, 'and fails');
    ($walks, $error) = walks_and_error_of { $array->vantleLateReply("a", "b") };
    is($walks, 0, 'the miss is remembered');
    like($error, $missing, 'and fails alike');
    ($walks) = walks_and_error_of { $array->vantleLateReply("a") };
    is($walks, 1, 'with another number of arguments the name is walked for');
    ($walks) = walks_and_error_of { ok(!$array->can("vantleLateReply"), 'can') };
    cmp_ok($walks, '>', 0, 'can walks for any number of arguments');
    ($walks) = walks_and_error_of { ok(!$array->can("vantleLateReply"), 'can again') };
    is($walks, 0, 'and remembers that too');

    # A class registered by code that tells nobody: the class count shows.
    Vantle::TestSupport::add_class("VantleLateClass", "vantleLate:reply:");
    ($walks, $error) = walks_and_error_of { $array->vantleLateReply("a", "b") };
    is($walks, 1, 'a class registered since makes another walk');
    like($error, qr/ does not respond to -vantleLate:reply: /, 'which finds the selector');
    my $late = Vantle::class("VantleLateClass")->new->autorelease;
    is(Vantle::pl($late->vantleLateReply("a", "b")), "vantleLate:reply:",
	'and the class answers it');
    ok($late->can("vantleLateReply"), 'can finds it');

    # A method added to a class that was there, the change noted.
    ($walks) = walks_and_error_of { $late->vantleLaterReply("a", "b") };
    is($walks, 1, 'another name the map lacks');
    ($walks) = walks_and_error_of { $late->vantleLaterReply("a", "b") };
    is($walks, 0, 'remembered');
    Vantle::TestSupport::add_method("VantleLateClass", "vantleLater:reply:");
    ($walks, $error) = walks_and_error_of {
	is(Vantle::pl($late->vantleLaterReply("a", "b")), "vantleLater:reply:",
	    'a method added since is found');
    };
    is($walks, 1, 'by another walk');
    is($error, undef, 'without an error');
};

done_testing;
