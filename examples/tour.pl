#!/usr/bin/perl
# A short tour of Foundation from Perl through the Vantle module.
#
#   perl -Mblib=build examples/tour.pl
#
# Method names become selectors: each '_' stands for a ':', so
# setObject_forKey_($v, $k) sends setObject:forKey:.  Class names are
# invocants of class messages.  Objects come back as handles; Vantle::pl
# turns Foundation data into Perl data and Vantle::obj the other way.
use strict;
use warnings;
use utf8;
use Vantle;

binmode STDOUT, ':encoding(UTF-8)';

sub show { printf "  %-46s %s\n", @_ }

print "Strings\n";
my $greeting = NSString->stringWithString_("Grüße aus Perl");
show('NSString->stringWithString_("Grüße aus Perl")', Vantle::pl($greeting));
show('->length', $greeting->length);
show('->uppercaseString', Vantle::pl($greeting->uppercaseString));
show('->hasPrefix_("Grüße")', $greeting->hasPrefix_("Grüße") ? "yes" : "no");

print "\nStructures cross by value\n";
my $range = $greeting->rangeOfString_("Perl");
show('->rangeOfString_("Perl")', "{ location => $range->{location}, length => $range->{length} }");
my $word = $greeting->substringWithRange_({ location => 6, length => 3 });
show('->substringWithRange_({ location => 6, ... })', Vantle::pl($word));

print "\nNumbers\n";
my $pi = NSNumber->numberWithDouble_(3.14159);
show('NSNumber->numberWithDouble_(3.14159)', Vantle::pl($pi));
show('->intValue', $pi->intValue);
my $big = NSNumber->numberWithLongLong_(9007199254740993);
show('NSNumber->numberWithLongLong_(2**53 + 1)', $big->longLongValue);

print "\nArrays\n";
my $fruit = NSMutableArray->array;
$fruit->addObject_($_) for qw(pear apple fig);
show('addObject_ three times, ->count', $fruit->count);
show('->objectAtIndex_(1)', Vantle::pl($fruit->objectAtIndex_(1)));
show('->componentsJoinedByString_(", ")', Vantle::pl($fruit->componentsJoinedByString_(", ")));

print "\nDictionaries\n";
my $ages = NSMutableDictionary->dictionary;
$ages->setObject_forKey_(36, "ada");
$ages->setObject_forKey_(41, "grace");
show('setObject_forKey_ twice, ->count', $ages->count);
show('->objectForKey_("grace")', Vantle::pl($ages->objectForKey_("grace")));

print "\nBy value: Perl data to Foundation and back\n";
my $data = { name => "tour", tags => ["perl", "objc"], depth => 2.5 };
my $dict = Vantle::obj($data);
show('Vantle::obj({...})->class', Vantle::pl($dict->className));
my $back = Vantle::pl($dict);
show('Vantle::pl(...)->{tags}[1]', $back->{tags}[1]);
my $flag = Vantle::obj(!!1);
show('Vantle::obj(!!1)->boolValue', $flag->boolValue);
show('Vantle::pl(NSNumber->numberWithBool_(0))',
     '"' . Vantle::pl(NSNumber->numberWithBool_(0)) . '", Perl\'s false');
my $bytes = Vantle::data("\x00\x01\xfe\xff");
show('Vantle::data("\\x00\\x01\\xfe\\xff")->length', $bytes->length);
show('length Vantle::pl(...)', length Vantle::pl($bytes));

print "\nExceptions become Perl errors\n";
eval { NSArray->array->objectAtIndex_(3) };
(my $error = $@) =~ s/\n.*//s;
show('eval { NSArray->array->objectAtIndex_(3) }', $error);
show('and the next message still works', NSArray->arrayWithObject_("ok")->count);

print "\nPools drained by Perl code\n";
my $last;
{
    my $pool = Vantle::autorelease_pool;    # drains when the block is left
    $last = NSString->stringWithString_("item $_") for 1 .. 1000;
}
show('1000 strings in a Vantle::autorelease_pool', 'after the block: ' . Vantle::object_is_bad($last));
my $pool = NSAutoreleasePool->new;
$pool->release;
eval { $pool->release };
($error = $@) =~ s/ at .*//s;
show('NSAutoreleasePool->new, ->release twice', $error);

print "\nTyped streams: objects to a file and back\n";
{
    require Vantle::TypedStream;
    require File::Temp;
    my $file = File::Temp->new(SUFFIX => '.ts');
    my $shared = Vantle::obj({ name => "shared" });
    my $ts = Vantle::TypedStream::KxOpenTypedStreamForFile("$file", "w");
    Vantle::TypedStream::KxWriteRootObject($ts, Vantle::obj([$shared, $shared]));
    Vantle::TypedStream::KxCloseTypedStream($ts);
    # A file names the classes it makes objects of: a reader says which
    # it accepts, and anything else is an error before the class is used.
    $ts = Vantle::TypedStream::KxOpenTypedStreamForFile("$file", "r");
    Vantle::TypedStream::KxSetTypedStreamAllowedClasses($ts,
        [qw(NSMutableArray NSMutableDictionary NSString)]);
    my $copy = Vantle::TypedStream::KxReadObject($ts);
    show('written and read back, ->count', $copy->count);
    show('the shared element is still one object', $copy->[0] == $copy->[1] ? "yes" : "no");
    Vantle::TypedStream::KxCloseTypedStream($ts);
}
