#!/usr/bin/perl
# Comment
use strict;
my $x = 5;
my @list = qw(a b c);
my %seen;
foreach my $item (@list) {
    print "item: $item\n" if $item ne 'b';
}
print <<"END";
Here text $x
END
print <<EOT . "after\n";
second body
EOT
$y = 1 << 2;
=pod

Documentation

=cut
sub f { return %h; }
