int interval = integer_count;
/* unterminated comment at the end
int y = 1;
