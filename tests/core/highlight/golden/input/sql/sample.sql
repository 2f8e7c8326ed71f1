-- Line comment
SELECT name, COUNT(*) FROM t
where x = 'O''Hara' /* block */ AND y > 42 # mysql comment
UPDATE "Quoted" SET `tick` = $$body$$ RETURNING @v;
INSERT INTO t (a, b) VALUES (1.5, 'x');
select selected, fromage from t
