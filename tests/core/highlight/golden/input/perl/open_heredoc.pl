print <<'STOP';
this body never ends
my $x = 1;
