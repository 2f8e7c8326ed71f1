#!/usr/bin/perl
# Takes a cake order from the form and thanks the customer.
use strict;
use warnings;

my %cakes = (
    apple  => 'Apple tart',
    cheese => 'Cheesecake',
    plum   => 'Plum crumble',
);

print "Content-Type: text/html\n\n";
my $query = $ENV{QUERY_STRING} // '';
my ($choice) = $query =~ /cake=(\w+)/;

if (defined $choice && exists $cakes{$choice}) {
    print "<p>Thank you! Your $cakes{$choice} will be ready tomorrow.</p>\n";
} else {
    print "<p>Please choose one of: ", join(', ', sort values %cakes), ".</p>\n";
}
