# The to-do list.  Each session has its own instance of this component,
# so $self->{items} is one user's list, kept between requests.
package Todo::Main;
use strict;
use warnings;

# Keys the template and the form may read and write; reading any other
# key is an error, which catches typos in the template.
our @IVARS = qw(items item index newItem urgent message);
our @ACTIONS = qw(add done remove about);

sub awake {
    my $self = shift;
    $self->{items} ||= [];
    return;
}

sub count { scalar @{ $_[0]{items} } }

sub add {
    my $self = shift;
    my $title = $self->{newItem} // '';
    $title =~ s/^\s+|\s+$//g;
    if (length $title) {
        push @{ $self->{items} }, { title => $title, done => 0, urgent => $self->{urgent} ? 1 : 0 };
        $self->{message} = "Added \"$title\".";
    } else {
        $self->{message} = 'Nothing to add.';
    }
    $self->{newItem} = '';
    $self->{urgent} = 0;
    return;
}

# Inside the repetition the framework sets index (and item) to the
# entry whose link was followed.
sub done {
    my $self = shift;
    my $entry = $self->{items}[ $self->{index} ];
    $entry->{done} = 1;
    $self->{message} = "Done: $entry->{title}.";
    return;
}

sub remove {
    my $self = shift;
    my ($entry) = splice @{ $self->{items} }, $self->{index}, 1;
    $self->{message} = "Removed \"$entry->{title}\".";
    return;
}

# An action answers the name of the component to show next.
sub about { 'About' }

__PACKAGE__;
