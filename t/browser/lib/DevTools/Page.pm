package DevTools::Page;

# A browser tab driven through DevTools: navigation that waits until the
# new document has loaded, and JavaScript evaluated in the page to read
# the rendered DOM, type and click.

use strict;
use warnings;
use Carp ();
use JSON::PP ();
use Time::HiRes ();

my $JS = JSON::PP->new->allow_nonref->canonical;    # Perl values as JavaScript literals

# open(CLASS, DEVTOOLS, context => ID) --
#	Opens a blank tab (in the browser context ID, if given: a profile of
#	its own, with its own cookies) and attaches to it.
sub open {
    my ($class, $devtools, %opt) = @_;
    my %target = (url => 'about:blank');
    $target{browserContextId} = $opt{context} if defined $opt{context};
    my $target = $devtools->call('Target.createTarget', \%target)->{targetId};
    my $session = $devtools->call('Target.attachToTarget',
        { targetId => $target, flatten => JSON::PP::true })->{sessionId};
    my $self = bless { devtools => $devtools, target => $target, session => $session }, $class;
    $self->call('Page.enable');
    return $self;
}

# call(METHOD, PARAMS, timeout => SECONDS) --
#	Sends a command to this tab and answers its result.
sub call {
    my ($self, $method, $params, %opt) = @_;
    return $self->{devtools}->call($method, $params, %opt, session => $self->{session});
}

# js(VALUE) --
#	Answers VALUE (a string, number, array or hash) as a JavaScript
#	literal, to build expressions from.
sub js { $JS->encode($_[1]) }

# evaluate(EXPRESSION, timeout => SECONDS) --
#	Evaluates EXPRESSION in the page and answers its value (JSON-like
#	values come back as Perl values).  Croaks with the page's exception.
sub evaluate {
    my ($self, $expression, %opt) = @_;
    my $answer = $self->call('Runtime.evaluate',
        { expression => $expression, returnByValue => JSON::PP::true, awaitPromise => JSON::PP::true }, %opt);
    if (my $error = $answer->{exceptionDetails}) {
        my $text = $error->{exception}{description} // $error->{text};
        Carp::croak("in the page: $text\n  evaluating: $expression");
    }
    return $answer->{result}{value};
}

# navigate(URL), reload --
#	Loads URL in the tab, or loads the page again; answers when the new
#	document has loaded.  Croaks when the browser cannot load it.
sub navigate {
    my ($self, $url) = @_;
    $self->_loading(sub {
        my $answer = $self->call('Page.navigate', { url => $url });
        Carp::croak("cannot load $url: $answer->{errorText}") if $answer->{errorText};
    });
}

sub reload {
    my ($self) = @_;
    $self->_loading(sub { $self->call('Page.reload') });
}

# type(SELECTOR, TEXT) --
#	Empties the field matched by the CSS SELECTOR, focuses it and types
#	TEXT into it as keyboard input does.
sub type {
    my ($self, $selector, $text) = @_;
    $self->_element($self->query($selector), 'e.value = ""; e.focus()');
    $self->call('Input.insertText', { text => $text });
    return;
}

# click(ELEMENT_JS) --
#	Clicks the element that the JavaScript expression ELEMENT_JS answers
#	and waits for the document it leads to.  Croaks if there is none.
sub click {
    my ($self, $element) = @_;
    $self->_loading(sub { $self->_element($element, 'e.click()') });
}

# query(SELECTOR), link(TEXT, WITHIN) --
#	Answer JavaScript expressions for the first element that the CSS
#	SELECTOR matches, and for the first link whose text is TEXT (within
#	the first element that the selector WITHIN matches, if given).
sub query {
    my ($self, $selector) = @_;
    return 'document.querySelector(' . $self->js($selector) . ')';
}

sub link {
    my ($self, $text, $within) = @_;
    my $root = defined $within ? $self->query($within) : 'document';
    return "[...($root).querySelectorAll('a')].find(a => a.textContent.trim() === " . $self->js($text) . ')';
}

# html --
#	Answers the rendered document (outerHTML), or why it cannot; for
#	diagnostics, so it waits 5 seconds at most.
sub html {
    my ($self) = @_;
    my $html = eval { $self->evaluate('document.documentElement.outerHTML', timeout => 5) };
    return $html // "(no document: $@)";
}

# close --
#	Closes the tab.
sub close {
    my ($self) = @_;
    $self->{devtools}->call('Target.closeTarget', { targetId => $self->{target} });
    return;
}

# _element(ELEMENT_JS, STATEMENTS) --
#	Runs the JavaScript STATEMENTS with e bound to the element that
#	ELEMENT_JS answers.  Croaks if there is none.
sub _element {
    my ($self, $element, $statements) = @_;
    $self->evaluate("(() => { const e = $element; if (!e) throw new Error('no element: ' + "
        . $self->js($element) . "); $statements; return true })()");
    return;
}

# _loading(CODE) --
#	Runs CODE, which starts loading a document, and waits until a new
#	document has fired its load event.  The old document carries a mark
#	so that a late event of the old one is not taken for the new one.
sub _loading {
    my ($self, $code) = @_;
    my $devtools = $self->{devtools};
    $self->evaluate('document.bqOld = true');
    $devtools->clear_events(session => $self->{session});
    $code->();
    my $deadline = Time::HiRes::time() + $devtools->timeout;
    while (1) {
        my $left = $deadline - Time::HiRes::time();
        Carp::croak(sprintf 'no new document loaded within %.0f s', $devtools->timeout) if $left <= 0;
        $devtools->wait_event('Page.loadEventFired', session => $self->{session}, timeout => $left);
        my $new = eval {
            $self->evaluate('!document.bqOld && document.readyState === "complete"', timeout => $left);
        };
        return if $new;
    }
}

1;
