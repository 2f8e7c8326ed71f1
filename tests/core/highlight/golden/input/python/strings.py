a = ''
b = """"""
c = '''one ''' + """two""" + "three"
d = "unterminated
e = 'still # not a comment'
lambda_ = lambda q: q if q else None
