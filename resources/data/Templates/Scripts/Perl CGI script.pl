#!/usr/bin/perl
use strict;
use warnings;
use CGI qw(:standard escapeHTML);

my $name = param('name') // 'world';

print header(-type => 'text/html', -charset => 'utf-8');
print <<"HTML";
<!DOCTYPE html>
<html lang="en">
<head><meta charset="utf-8"><title>CGI script</title></head>
<body>
<p>Hello, @{[ escapeHTML($name) ]}!</p>
</body>
</html>
HTML
